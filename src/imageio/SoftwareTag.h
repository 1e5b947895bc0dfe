// Reads back what a written picture records as the software that made it (TIFF's Software
// tag, PNG's "Software" text), so that a later run can tell whether it made the file itself.
#pragma once
#include <filesystem>
#include <string>

// The text, or empty when the file has none, is neither TIFF nor PNG, or cannot be read. Only
// the file's header is read (TIFF: the first directory; PNG: the chunks before the pixels).
std::string ReadSoftwareTag(const std::filesystem::path& path);
