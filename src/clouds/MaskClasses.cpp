#include "MaskClasses.h"

TMaskClasses TMaskClasses::Default() {
  TMaskClasses classes;
  for (unsigned c : {0u, 1u, 3u, 8u, 9u, 10u}) classes.Masked.set(c);
  return classes;
}

std::optional<TMaskClasses> ParseMaskClasses(const std::string& text, std::string& error) {
  TMaskClasses classes;
  size_t at = 0;
  for (;;) {
    const size_t comma = text.find(',', at);
    std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    const size_t first = item.find_first_not_of(' '), last = item.find_last_not_of(' ');
    item = first == std::string::npos ? std::string() : item.substr(first, last - first + 1);
    if (item.empty() || item.size() > 2 || item.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(item) >= kSceneClassCount) {
      error = "\"" + item + "\" is not a scene class (0 to " + std::to_string(kSceneClassCount - 1) + ")";
      return std::nullopt;
    }
    classes.Masked.set(std::stoul(item));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return classes;
}

std::string MaskClassesText(const TMaskClasses& classes) {
  std::string text;
  for (unsigned c = 0; c < kSceneClassCount; ++c)
    if (classes.Masked[c]) text += (text.empty() ? "" : ",") + std::to_string(c);
  return text;
}
