#include "JobReport.h"

#include <nlohmann/json.hpp>

#include <cmath>

#include "BatchPlatform.h"
#include "TextCodec.h"

const char* StatusWord(TJobStatus status) {
  switch (status) {
    case TJobStatus::Written: return "written";
    case TJobStatus::Skipped: return "skipped";
    case TJobStatus::Failed: break;
  }
  return "failed";
}

std::string RecordJson(const TJobRecord& record) {
  // Kept in this order: people read these files too.
  nlohmann::ordered_json json;
  json["input"] = ToUtf8(record.Input);
  json["output"] = ToUtf8(record.Output);
  json["status"] = StatusWord(record.Status);
  json["message"] = ToUtf8(record.Message);
  json["seconds"] = std::round(record.Seconds * 1000) / 1000;
  if (record.PeakMemoryBytes) json["peak_memory_bytes"] = *record.PeakMemoryBytes;
  else json["peak_memory_bytes"] = nullptr;
  if (record.MaskedFraction) json["masked_fraction"] = std::round(*record.MaskedFraction * 1e6) / 1e6;
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

TJobReport::~TJobReport() {
  if (FHandle != -1) batchPlatform::CloseFile(FHandle);
}

bool TJobReport::Open(const std::wstring& path, std::wstring& why) {
  FPath = path;
  std::string reason;
  FHandle = batchPlatform::OpenForAppend(path, reason);
  if (FHandle != -1) return true;
  why = L"cannot open the report " + path + L": " + FromUtf8(reason);
  return false;
}

bool TJobReport::Append(const TJobRecord& record, std::wstring& why) {
  if (batchPlatform::AppendWhole(FHandle, RecordJson(record) + "\n")) return true;
  why = L"cannot write to the report " + FPath;
  return false;
}
