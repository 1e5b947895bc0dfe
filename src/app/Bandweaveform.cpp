#include "Bandweaveform.h"

#include <cwchar>

#include <shellapi.h>

#include "Dialogs.h"
#include "ImageFiles.h"
#include "ProductJob.h"

TFormBandweave* FormBandweave = nullptr;

namespace {
// The layout at 96 dpi; Loaded scales it to the screen.
struct TPlace {
  int Left, Top, Width, Height;
};
constexpr TPlace kLabelInfo{8, 8, 43, 13};
constexpr TPlace kButtonClose{220, 96, 73, 25};
constexpr TPlace kRadioGroupSaveFormat{8, 72, 121, 41};
constexpr TPlace kCheckBoxBeepWhenDone{12, 45, 105, 17};
constexpr int kClientWidth = 301;
constexpr int kClientHeight = 129;

const wchar_t kStartupText[] = L"Drop a .JP2 file to process\nThis program WILL take a long time to run";

template <class T>
T* Place(T* Control, TWinControl* Parent, const wchar_t* Name, const TPlace& P, const wchar_t* Text) {
  Control->SetName(Name);
  Control->SetParent(Parent);
  Control->SetBounds(P.Left, P.Top, P.Width, P.Height);
  Control->SetCaption(Text);
  return Control;
}
}  // namespace

TFormBandweave::TFormBandweave(TComponent* AOwner) : TForm(AOwner) {
  BeginLoading();
  SetName(L"FormBandweave");
  SetBorderStyle(bsDialog);
  SetCaption(L"Bandweave");
  SetClientWidth(kClientWidth);
  SetClientHeight(kClientHeight);
  SetDesignedFont(L"Tahoma", -11);
  SetShowHint(true);
  SetPosition(poDefaultPosOnly);
  OnCreate = [this](TObject* s) { FormCreate(s); };
  OnShow = [this](TObject* s) { FormShow(s); };
  OnDestroy = [this](TObject* s) { FormDestroy(s); };

  LabelInfo = Place(new TLabel(this), this, L"LabelInfo", kLabelInfo, L"Status...");
  // The durations tool tip shows whatever the window's setting.
  LabelInfo->SetShowHint(true);

  ButtonClose = Place(new TButton(this), this, L"ButtonClose", kButtonClose, L"Close");
  ButtonClose->SetAnchors(akRight | akBottom);
  ButtonClose->SetTabOrder(0);
  ButtonClose->OnClick = [this](TObject* s) { ButtonCloseClick(s); };

  RadioGroupSaveFormat =
      Place(new TqelRadioGroup(this), this, L"RadioGroupSaveFormat", kRadioGroupSaveFormat, L"Save format");
  RadioGroupSaveFormat->SetColumns(2);
  RadioGroupSaveFormat->SetItems({L"PNG", L"TIFF"});
  RadioGroupSaveFormat->SetItemIndex(1);
  RadioGroupSaveFormat->SetHint(L"TIFF is quicker, but produces a 20% bigger file");
  RadioGroupSaveFormat->SetTabOrder(1);
  RadioGroupSaveFormat->SetNamedAs(L"SaveFormat");

  CheckBoxBeepWhenDone =
      Place(new TqelCheckBox(this), this, L"CheckBoxBeepWhenDone", kCheckBoxBeepWhenDone, L"Beep when done");
  CheckBoxBeepWhenDone->SetChecked(false);
  CheckBoxBeepWhenDone->SetTabOrder(2);
  CheckBoxBeepWhenDone->SetNamedAs(L"BeepWhenDone");

  TimerStartup = new TTimer(this);
  TimerStartup->SetName(L"TimerStartup");
  TimerStartup->SetInterval(100);
  TimerStartup->SetEnabled(true);
  TimerStartup->SetOnTimer([this](TObject* s) { TimerStartupTimer(s); });

  TimerNewFile = new TTimer(this);
  TimerNewFile->SetName(L"TimerNewFile");
  TimerNewFile->SetEnabled(false);
  TimerNewFile->SetInterval(70);
  TimerNewFile->SetOnTimer([this](TObject* s) { TimerNewFileTimer(s); });

#if BANDWEAVE_HAS_DRAGDROP
  DropFileTarget = new TDropFileTarget(this);
  DropFileTarget->SetName(L"DropFileTarget");
  DropFileTarget->SetDragTypes(TDragTypes{dtCopy});
  DropFileTarget->SetOnDrop([this](TObject* s, TShiftState st, TPoint p, int32_t& e) { DropFileTargetDrop(s, st, p, e); });
  // No separate target window, and optimised moves: the component's own settings.
#endif
  // Loaded: the layout scales to the screen, the two settings controls read their stored
  // state, and applying the stored selection makes the window.
  EndLoading();
}

TFormBandweave::~TFormBandweave() {
  if (FormBandweave == this) FormBandweave = nullptr;
}

void TFormBandweave::CreateParams(TCreateParams& Params) {
  TForm::CreateParams(Params);
  Params.WinClassName = L"TFormBandweave";
}

void TFormBandweave::FormCreate(TObject*) {
  SetDesktopFont(true);
  Application->SetTitle(L"Bandweave");
#if BANDWEAVE_HAS_DRAGDROP
  DropFileTarget->Register(this);
#endif
  FFormInfo = std::make_unique<TRegistryFormInfo>(this);
}

void TFormBandweave::FormShow(TObject*) {
  if (FFormInfo) FFormInfo->GetSavedLocationOnly();
}

void TFormBandweave::FormDestroy(TObject*) {
  // Stores the placement while the window still exists, before the controls store theirs.
  FFormInfo.reset();
}

void TFormBandweave::ButtonCloseClick(TObject*) { Close(); }

void TFormBandweave::TimerStartupTimer(TObject*) {
  TimerStartup->SetEnabled(false);
  LabelInfo->SetCaption(kStartupText);
  std::wstring arg = FirstCommandLineArgument();
  // A product's folder is taken too; any other folder is ignored as ever.
  if (!arg.empty() && (IsExistingFile(arg) || IsProductPath(arg))) QueueFile(arg);
}

void TFormBandweave::QueueFile(const std::wstring& FileName) {
  FFileName = FileName;
  TimerNewFile->SetEnabled(true);  // a running timer keeps its interval
}

void TFormBandweave::TimerNewFileTimer(TObject*) {
  TimerNewFile->SetEnabled(false);
  ProcessFile(FFileName);
}

#if BANDWEAVE_HAS_DRAGDROP
void TFormBandweave::DropFileTargetDrop(TObject*, TShiftState, TPoint, int32_t&) {
  // A drop of mapped names alone has no first name: the index check throws, and the drop
  // answers E_UNEXPECTED with no effect, so the source keeps its data and no job starts.
  // Older sources hand "FileNameW" over in a block larger than the name; no Windows path
  // holds a zero character, so the name ends at the first one.
  std::wstring name = DropFileTarget->Files()[0];
  name.resize(std::wcslen(name.c_str()));
  QueueFile(name);
  Update();
}
#endif

// A band file runs the job as ever; a product (folder, metadata file, zip) runs it on the
// product's true-colour bands, 10 m for L2A.
void TFormBandweave::ProcessFile(const std::wstring& FileName) { ProcessDroppedPath(*this, FileName); }

void TFormBandweave::SetStatusText(const std::wstring& text) { LabelInfo->SetCaption(text); }
std::wstring TFormBandweave::GetStatusText() { return LabelInfo->Caption(); }
void TFormBandweave::SetStatusHint(const std::wstring& text) { LabelInfo->SetHint(text); }
void TFormBandweave::RepaintNow() { LabelInfo->Update(); }
void TFormBandweave::ShowModalMessage(const std::wstring& text) { ShowMessage(text); }
void TFormBandweave::Beep() { MessageBeep(0); }

intptr_t TFormBandweave::BeginBusyCursor() {
  TCursor old = Screen->Cursor();
  Screen->SetCursor(crHourGlass);
  return old;
}

void TFormBandweave::RestoreCursor(intptr_t cursor) { Screen->SetCursor(static_cast<TCursor>(cursor)); }
int TFormBandweave::GetSaveFormat() { return RadioGroupSaveFormat->ItemIndex(); }
bool TFormBandweave::GetBeepWhenDone() { return CheckBoxBeepWhenDone->Checked(); }
void TFormBandweave::SetProgress(double fraction) {
  FTaskbarProgress.Set(HandleAllocated() ? Handle() : nullptr, fraction);
}

std::wstring FirstCommandLineArgument() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return {};
  std::wstring arg = argc > 1 ? argv[1] : L"";
  LocalFree(argv);
  return arg;
}
