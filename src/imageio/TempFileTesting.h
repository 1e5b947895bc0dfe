// A stand-in for a full disk, for the tests of every writer: a write that would take a temporary
// file past a set number of bytes fails.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tempFileTesting {
// Negative: no limit (the default).
void SetWriteLimit(int64_t bytes);
}  // namespace tempFileTesting

namespace tempFileDetail {
// False when the write limit forbids size more bytes at offset.
bool WithinTestLimit(int64_t offset, size_t size);
bool TestLimitSet();
}  // namespace tempFileDetail
