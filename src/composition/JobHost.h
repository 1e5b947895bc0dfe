// What the composite job asks of the window that runs it. The main window is one host, the
// console tool another, and the tests record every call through a third.
#pragma once
#include <cstdint>
#include <string>

#include "MaskClasses.h"

class JobHost {
 public:
  virtual ~JobHost() = default;
  virtual void SetStatusText(const std::wstring& text) = 0;  // may hold a line feed
  virtual std::wstring GetStatusText() = 0;
  virtual void SetStatusHint(const std::wstring& text) = 0;  // the status line's tool tip
  virtual void RepaintNow() = 0;                             // paint now, serve nothing else
  virtual void ShowModalMessage(const std::wstring& text) = 0;
  virtual void Beep() = 0;
  virtual intptr_t BeginBusyCursor() = 0;  // returns the cursor to come back to
  virtual void RestoreCursor(intptr_t cursor) = 0;
  virtual int GetSaveFormat() = 0;  // 0 PNG, 1 TIFF, -1 none selected
  virtual bool GetBeepWhenDone() = 0;
  // The job's progress over loading and saving, from 0.0 to 1.0; a negative value clears it.
  // Hosts without a progress display ignore it.
  virtual void SetProgress(double fraction) { (void)fraction; }
  // Which way the job's samples take and why, one line; for hosts that show timings (the
  // console tool's --times). Others ignore it.
  virtual void NoteWay(const std::wstring& text) { (void)text; }
  // Where every output goes instead of beside its sources (a folder ending in its delimiter);
  // empty, as in the window: beside the sources.
  virtual std::wstring GetOutputFolder() { return {}; }
  // What the outputs record as the software that made them (the options that shape them, so
  // that a later run can tell its own outputs from others'); empty: nothing recorded.
  virtual std::string GetOutputSoftware() { return {}; }
  // The scene classes to mask the composite with, from the product's own classification: their
  // pixels, and those any band of which has no data, become 0, 0, 0, and the outputs' names get
  // "_masked". Null, as in the window: no mask.
  virtual const TMaskClasses* GetMaskClasses() { return nullptr; }
  // How much of a masked composite the mask removed, once it is saved; for hosts that report
  // it (the console tool). Others ignore it.
  virtual void NoteMasked(uint64_t maskedPixels, uint64_t pixels) {
    (void)maskedPixels;
    (void)pixels;
  }
  // The composite is saved and its bands are still where the job read them (a zip's unpacked
  // bands too): the moment for what else is made from the bands (the console tool's quicklook
  // and world files). Others ignore it.
  virtual void CompositeSaved(const std::wstring& red, const std::wstring& green, const std::wstring& blue,
                              const std::wstring& composite) {
    (void)red, (void)green, (void)blue, (void)composite;
  }
};

// The busy cursor from construction to destruction, however the scope is left.
class TBusyCursor {
 public:
  explicit TBusyCursor(JobHost& host) : FHost(host), FCursor(host.BeginBusyCursor()) {}
  ~TBusyCursor() {
    try {
      FHost.RestoreCursor(FCursor);
    } catch (...) {
    }
  }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;

 private:
  JobHost& FHost;
  intptr_t FCursor;
};

// How a job that ends without a picture says why: the status line (repainted first when asked),
// one beep, and the same text in a message box.
inline void Announce(JobHost& host, const std::wstring& text, bool repaint) {
  host.SetStatusText(text);
  if (repaint) host.RepaintNow();
  host.Beep();
  host.ShowModalMessage(host.GetStatusText());
}
