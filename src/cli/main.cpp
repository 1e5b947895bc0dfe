// bandweave-cli: the composite job from the command line, for batches of tiles.
#include <string>
#include <vector>

#include "CompositeJob.h"
#include "ConsoleHost.h"
#include "FreeImageSession.h"
#include "OutputExtras.h"
#include "ProductJob.h"
#include "TempFile.h"
#include "TextCodec.h"
#include "qelUtils.h"

namespace {
const wchar_t* const kUsage =
    L"usage: bandweave-cli [--png | --tiff] [--beep] [--times] [--false-colour] [--resolution 10|20|60]\n"
    L"                     [--world-file] [--quicklook [--reduce N]] FILE\n"
    L"\n"
    L"Merges the three Sentinel-2 band files of a colour composite into one 48-bit RGB\n"
    L"picture. FILE is any one band of the set: a name ending in B02.jp2, B03.jp2 or B04.jp2\n"
    L"(L2A: B02_10m.jp2 and so on) gives true colour (red B04, green B03, blue B02), one ending\n"
    L"in B08.jp2 or B08_10m.jp2 false colour (red B08, green B04, blue B03), B8A_20m.jp2 or\n"
    L"B8A_60m.jp2 false colour with B8A as red. The other bands are found beside it, and the\n"
    L"picture is written there with the band suffix replaced by 48.tif or 48.png (48_10m.tif).\n"
    L"FILE may also be a whole product: its .SAFE folder, MTD_MSIL1C.xml or MTD_MSIL2A.xml, a\n"
    L"granule or IMG_DATA folder (the picture goes beside the red band), or the product's .zip\n"
    L"(the picture goes beside the zip, e.g. T33UUP_20250101T101021_48.tif).\n"
    L"\n"
    L"  --tiff            write a deflate-compressed TIFF (the default)\n"
    L"  --png             write a PNG with the fastest compression\n"
    L"  --beep            beep (BEL) when the picture is written\n"
    L"  --times           start each progress line with the seconds since start\n"
    L"  --false-colour    for a product: false colour instead of true colour\n"
    L"  --resolution M    for an L2A product: the 10, 20 or 60 m bands (default: the finest)\n"
    L"  --world-file      beside each PNG written, a world file (.pgw) and a .png.aux.xml\n"
    L"                    with the coordinate system, from the bands' own georeferencing\n"
    L"                    (a TIFF carries it in its GeoTIFF tags anyway)\n"
    L"  --quicklook       also write an 8-bit RGB PNG for ordinary viewers beside the\n"
    L"                    picture, named like it with _ql.png in place of its extension\n"
    L"                    (..._48_ql.png), mapped as ESA's true-colour image (TCI) with the\n"
    L"                    offset of the product's MTD_MSIL2A.xml or MTD_MSIL1C.xml (0 when\n"
    L"                    there is none)\n"
    L"  --reduce N        decode the quicklook at 1/2^N resolution (N = 0 .. 15)\n"
    L"  --help            show this text\n"
    L"\n"
    L"Progress goes to stderr, the outcome to stdout. Exit status: 0 when the picture was\n"
    L"written, 1 when the job reported a failure, 2 for a usage error, a missing file or a\n"
    L"file that is not JPEG 2000. When the picture was written but a quicklook or side file\n"
    L"asked for was not, the status is 1.\n"
    L"Outputs carry \"Contains modified Copernicus Sentinel data\" in their metadata.\n"
    L"JPEG 2000 decoding uses every core unless OPJ_NUM_THREADS says otherwise.";

int UsageError(const std::wstring& why) {
  WriteLine(stderr, L"bandweave-cli: " + why);
  WriteLine(stderr, L"usage: bandweave-cli [--png | --tiff] [--beep] [--times] [--false-colour] [--resolution M]"
                    L" [--world-file] [--quicklook [--reduce N]] FILE   (--help for more)");
  return 2;
}

int Run(const std::vector<std::wstring>& args) {
  int format = -1;
  bool beep = false;
  bool times = false;
  bool optionsDone = false;
  TProductRequest product;
  product.SayWhenNoProduct = true;  // a console answers every path it is given
  bool productOptions = false;
  TExtraOutputs extras;
  bool reduceGiven = false;
  std::vector<std::wstring> files;
  for (size_t k = 0; k < args.size(); ++k) {
    const std::wstring& arg = args[k];
    if (!optionsDone && arg.size() > 1 && arg[0] == L'-') {
      if (arg == L"--help" || arg == L"-h") {
        WriteLine(stdout, kUsage);
        return 0;
      }
      if (arg == L"--") {
        optionsDone = true;
      } else if (arg == L"--png" || arg == L"--tiff") {
        const int chosen = arg == L"--png" ? 0 : 1;
        if (format >= 0 && format != chosen) return UsageError(L"choose either --png or --tiff");
        format = chosen;
      } else if (arg == L"--beep") {
        beep = true;
      } else if (arg == L"--times") {
        times = true;
      } else if (arg == L"--false-colour" || arg == L"--false-color") {
        product.FalseColour = productOptions = true;
      } else if (arg == L"--resolution") {
        const std::wstring value = k + 1 < args.size() ? args[++k] : L"";
        if (value != L"10" && value != L"20" && value != L"60") return UsageError(L"--resolution takes 10, 20 or 60");
        product.Metres = std::stoi(value);
        productOptions = true;
      } else if (arg == L"--world-file") {
        extras.WorldFile = true;
      } else if (arg == L"--quicklook") {
        extras.Quicklook = true;
      } else if (arg == L"--reduce") {
        const std::wstring value = k + 1 < args.size() ? args[++k] : L"";
        if (value.empty() || value.size() > 2 || value.find_first_not_of(L"0123456789") != std::wstring::npos ||
            std::stoi(value) > 15)
          return UsageError(L"--reduce takes a number from 0 to 15");
        extras.Reduce = static_cast<unsigned>(std::stoi(value));
        reduceGiven = true;
      } else {
        return UsageError(L"unknown option " + arg);
      }
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 1) return UsageError(files.empty() ? L"no band file given" : L"give exactly one band file");
  // A band file chooses by its own name; the options would be silently ignored there.
  if (productOptions && !IsProductPath(files[0]))
    return UsageError(L"--false-colour and --resolution apply to products (.SAFE, metadata file, granule, IMG_DATA, .zip)");
  if (reduceGiven && !extras.Quicklook) return UsageError(L"--reduce goes with --quicklook");
  if (extras.WorldFile && format != 0 && !extras.Quicklook)
    return UsageError(L"--world-file goes with a PNG: --png or --quicklook");

  // Ctrl-C, a closed console or a kill during a save must not leave the half-written file.
  RemoveTempFilesOnInterrupt();
  qelUtilsInitialize();
  int status = 1;
  {
    FreeImageSession images;
    ConsoleHost host(format < 0 ? 1 : format, beep, times);
    switch (ProcessDroppedPath(host, files[0], product)) {
      case TJobOutcome::Saved:
        status = WriteExtraOutputs(files[0], product, format < 0 ? 1 : format, extras) ? 0 : 1;
        break;
      case TJobOutcome::NoSuchFile:
        WriteLine(stderr, L"bandweave-cli: no such file: " + files[0]);
        status = 2;
        break;
      case TJobOutcome::NotJpeg2000:
        WriteLine(stderr, L"bandweave-cli: not a JPEG 2000 file: " + files[0]);
        status = 2;
        break;
      default: status = 1; break;
    }
  }
  qelUtilsFinalize();
  return status;
}
}  // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
  UseAllCoresForJpeg2000();
  return Run(std::vector<std::wstring>(argv + 1, argv + argc));
}
#else
int main(int argc, char** argv) {
  UseAllCoresForJpeg2000();
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(FromUtf8(argv[i]));
  return Run(args);
}
#endif
