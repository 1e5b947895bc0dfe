// A single transparent colour for an RGB PNG written by another encoder (FreeImage writes a
// tRNS chunk for palette pictures only): the chunk goes in right after the header, where a
// PNG of colour type 2 may carry it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "OutputFile.h"

// The tRNS chunk (length, type, data, CRC) marking the colour red, green, blue transparent.
std::vector<uint8_t> PngTransparentColourChunk(uint16_t red, uint16_t green, uint16_t blue);

// Inserts chunk after the IHDR chunk of the PNG file, in place. Refuses (false, with the reason)
// a file that is not an RGB PNG or already marks a transparent colour; the file is then
// unchanged. A failure part-way leaves the file damaged: call it on the temporary file the PNG
// was written to (TTempFile), before it is put in place.
bool InsertPngChunkAfterHeader(TOutputFile& file, const std::vector<uint8_t>& chunk, std::string& error);
