// A picture written as its rows arrive, top to bottom, so that no writer needs the whole
// picture in memory. The streaming job feeds every writer (TIFF, PNG, COG) through this.
#pragma once
#include "RowView.h"

class TRowSink {
 public:
  virtual ~TRowSink() = default;
  // The next rows.Height rows of the picture, in order from the top; rows.Width is the
  // picture's width. The rows are the caller's again once Put returns. False once anything
  // has failed (memory, a write); every later call fails too. Called from one thread at a
  // time, not necessarily the thread that made the sink; it calls no callback itself.
  virtual bool Put(const TRowView& rows) = 0;
  // After the last row: completes the file's content (everything but the close and the move
  // into place, which belong to the caller). False when fewer or more rows came than the
  // picture has, or when any write failed.
  virtual bool Finish() = 0;
};
