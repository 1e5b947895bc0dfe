// A drag source in a process of its own: drags the named files onto a screen point and writes
// what it learnt to a file: DoDragDrop's result, the effect, and what the target reported
// through SetData.
//   DragSourceProcess <result file> <from x> <from y> <to x> <to y> <name>...
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "FakeDataObject.h"
#include "MouseDrag.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 7) return 2;
  if (FAILED(OleInitialize(nullptr))) return 3;
  std::vector<std::wstring> names(argv + 6, argv + argc);
  const POINT from{_wtoi(argv[2]), _wtoi(argv[3])};
  const POINT to{_wtoi(argv[4]), _wtoi(argv[5])};
  int result = 0;
  {
    fake::DataObject data;
    data.AddGlobal(CF_HDROP, fake::DropFilesWide(names));
    DWORD effect = DROPEFFECT_NONE;
    const HRESULT hr = mousedrag::Drag(&data, from, to, &effect);
    const CLIPFORMAT performed = fake::Registered(CFSTR_PERFORMEDDROPEFFECT);
    FILE* out = _wfopen(argv[1], L"w");
    if (!out) {
      result = 4;
    } else {
      std::fprintf(out, "%08lX %lu %d %d\n", static_cast<unsigned long>(hr), effect, data.SetDataCalls,
                   static_cast<int>(data.Received.count(performed)));
      std::fclose(out);
    }
  }
  OleUninitialize();
  return result;
}
