// The main window: status line, save format, "Beep when done", Close. It starts the composite
// job for a band file named on the command line or dropped on it, and is the job's host.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "CompositeJob.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "JobHost.h"
#include "StdCtrls.h"
#include "TaskbarProgress.h"
#include "qelCheckBox.h"
#include "qelRadioGroup.h"
#include "qelRegistryVariables.h"
#if BANDWEAVE_HAS_DRAGDROP
#include "DragDropFile.h"
#include "DropTarget.h"
#endif

class TFormBandweave : public TForm, public JobHost {
 public:
  explicit TFormBandweave(TComponent* AOwner);
  ~TFormBandweave() override;

  TButton* ButtonClose = nullptr;
  TTimer* TimerStartup = nullptr;
  TLabel* LabelInfo = nullptr;
  TTimer* TimerNewFile = nullptr;
  TqelRadioGroup* RadioGroupSaveFormat = nullptr;
  TqelCheckBox* CheckBoxBeepWhenDone = nullptr;
#if BANDWEAVE_HAS_DRAGDROP
  TDropFileTarget* DropFileTarget = nullptr;
#endif

  void FormCreate(TObject* Sender);
  void FormShow(TObject* Sender);
  void FormDestroy(TObject* Sender);
  void ButtonCloseClick(TObject* Sender);
  void TimerStartupTimer(TObject* Sender);
  void TimerNewFileTimer(TObject* Sender);
#if BANDWEAVE_HAS_DRAGDROP
  void DropFileTargetDrop(TObject* Sender, TShiftState ShiftState, TPoint APoint, int32_t& Effect);
#endif

  // Runs one composite job on this window.
  void ProcessFile(const std::wstring& FileName);
  // Stores the name for the next job and starts TimerNewFile; a name stored again before
  // the tick replaces this one, and the tick runs one job.
  void QueueFile(const std::wstring& FileName);
  const std::wstring& FileName() const { return FFileName; }

  // JobHost
  void SetStatusText(const std::wstring& text) override;
  std::wstring GetStatusText() override;
  void SetStatusHint(const std::wstring& text) override;
  void RepaintNow() override;
  void ShowModalMessage(const std::wstring& text) override;
  void Beep() override;
  intptr_t BeginBusyCursor() override;
  void RestoreCursor(intptr_t cursor) override;
  int GetSaveFormat() override;
  bool GetBeepWhenDone() override;
  void SetProgress(double fraction) override;  // on the task-bar button

 protected:
  void CreateParams(TCreateParams& Params) override;

 private:
  std::wstring FFileName;
  std::unique_ptr<TRegistryFormInfo> FFormInfo;
  TTaskbarProgress FTaskbarProgress;
};

extern TFormBandweave* FormBandweave;

// The first command-line argument, or empty.
std::wstring FirstCommandLineArgument();
