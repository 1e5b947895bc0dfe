#include "CliOptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>

#include "ConsoleHost.h"
#include "TextCodec.h"

namespace {
const char* const kOutputGroup = "Output";
const char* const kProductGroup = "Products";
const char* const kProgressGroup = "Progress";
const char* const kBatchGroup = "Batches";

const char* const kUsageLine = "usage: bandweave-cli [options] INPUT...\n       bandweave-cli [options] --from FILE";

const char* const kDescription =
    "Merges the three Sentinel-2 band files of a colour composite into one 48-bit RGB\n"
    "picture, for one INPUT or a whole archive of them.\n"
    "\n"
    "An INPUT that is a band file may be any one band of the set: a name ending in B02.jp2,\n"
    "B03.jp2 or B04.jp2 (L2A: B02_10m.jp2 and so on) gives true colour (red B04, green B03,\n"
    "blue B02), one ending in B08.jp2 or B08_10m.jp2 false colour (red B08, green B04, blue\n"
    "B03), B8A_20m.jp2 or B8A_60m.jp2 false colour with B8A as red. The other bands are found\n"
    "beside it, and the picture is written there with the band suffix replaced by 48.tif or\n"
    "48.png (48_10m.tif).\n"
    "An INPUT may also be a whole product: its .SAFE folder, MTD_MSIL1C.xml or MTD_MSIL2A.xml,\n"
    "a granule or IMG_DATA folder (the picture goes beside the red band), or the product's .zip\n"
    "(the picture goes beside the zip, e.g. T33UUP_20250101T101021_48.tif).\n"
    "Any other folder is searched, with its subfolders, for products, product zips and loose\n"
    "band sets (each set once; a product is one job, its own files are not searched); other\n"
    "files there are passed over. Jobs run in the order of their paths, each once however\n"
    "often it is reached.\n"
    "\n"
    "With one INPUT the tool reports as it always has. With more, or a folder to search, or\n"
    "--from, it is a batch: one line a job on stdout, \"written\", \"skipped\" or \"failed\", a tab\n"
    "and the output (for a failure the input, when no output is known yet), and for a failure\n"
    "a tab and the job's own message; at the end \"N written, M skipped, K failed in T s\" on\n"
    "stderr. A job whose output and side files are newer than each of its sources and were\n"
    "made with the same output options is skipped, so a batch that was interrupted or had\n"
    "failures picks up where it left off when run again.\n";

const char* const kFooter =
    "Progress goes to stderr: for one job its stages, for a batch one progress bar on a\n"
    "terminal, or one line as each job starts and ends into a file or pipe.\n"
    "Exit status: 0 when every job wrote its picture (or was skipped), 1 when a job failed,\n"
    "2 for a usage error, a missing file, a file that is not JPEG 2000, two jobs that would\n"
    "write the same file, or no input that could be read at all. When a picture was written\n"
    "but a quicklook or side file asked for was not, the job counts as failed.\n"
    "Outputs carry \"Contains modified Copernicus Sentinel data\" in their metadata, and the\n"
    "options that shaped them as their Software tag (PNG: Software text).\n"
    "JPEG 2000 decoding uses every core (shared out among the jobs of a batch) unless\n"
    "--threads or OPJ_NUM_THREADS says otherwise. A job is started only when the memory it\n"
    "needs, estimated from its band headers, is free; until then it waits for others to end.";

// The usage first, then what the tool does, the options by group and the rest.
class THelpFormatter : public CLI::Formatter {
 public:
  THelpFormatter() { column_width(22); }
  std::string make_description(const CLI::App*) const override {
    return std::string(kUsageLine) + "\n\n" + kDescription + "\n";
  }
  std::string make_usage(const CLI::App*, std::string) const override { return {}; }
};

// The options of a group that were given, as a job is started with them: long names, values
// after their option, in the order of declaration.
std::vector<std::string> GivenArguments(const CLI::App& app, const std::string& group) {
  std::vector<std::string> arguments;
  for (const CLI::Option* option : app.get_options()) {
    if (option->get_group() != group || option->count() == 0) continue;
    const std::string name = "--" + option->get_lnames().front();
    if (option->get_expected_min() == 0) {  // a flag
      arguments.push_back(name);
      continue;
    }
    for (const std::string& value : option->results()) {
      arguments.push_back(name);
      arguments.push_back(value);
    }
  }
  return arguments;
}

// A validator whose failure reads as the reason of a usage error.
CLI::Validator Check(bool (*ok)(const std::string&), const std::string& reason) {
  return CLI::Validator([ok, reason](std::string& value) { return ok(value) ? std::string() : reason; }, "");
}

bool IsNumber(const std::string& text, unsigned low, unsigned high) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned value = static_cast<unsigned>(std::stoul(text));
  return value >= low && value <= high;
}
}  // namespace

int UsageError(const std::wstring& why) {
  WriteLine(stderr, L"bandweave-cli: " + why);
  WriteLine(stderr, L"usage: bandweave-cli [options] INPUT...   (--help for more)");
  return 2;
}

int ParseCommandLine(const std::vector<std::string>& args, TCliOptions& options) {
  CLI::App app("", "bandweave-cli");
  app.formatter(std::make_shared<THelpFormatter>());
  // A path such as /tmp/x (under Wine) is a path, never a /option.
  app.allow_windows_style_options(false);
  app.footer(kFooter);
  app.set_help_flag();  // added last, so that it comes last in the help

  bool png = false, tiff = false, falseColour = false;
  std::string resolution, reduce;
  TJobSettings& job = options.Job;
  app.add_flag("--tiff", tiff, "write a deflate-compressed TIFF (the default)")->group(kOutputGroup);
  app.add_flag("--png", png, "write a PNG with the fastest compression")->group(kOutputGroup);
  app.add_flag("--world-file", job.WorldFile,
               "beside each PNG written, a world file (.pgw) and a .png.aux.xml\n"
               "with the coordinate system, from the bands' own georeferencing\n"
               "(a TIFF carries it in its GeoTIFF tags anyway)")
      ->group(kOutputGroup);
  app.add_flag("--quicklook", job.Quicklook,
               "also write an 8-bit RGB PNG for ordinary viewers beside the\n"
               "picture, named like it with _ql.png in place of its extension\n"
               "(..._48_ql.png), mapped as ESA's true-colour image (TCI) with the\n"
               "offset of the product's MTD_MSIL2A.xml or MTD_MSIL1C.xml (0 when\n"
               "there is none)")
      ->group(kOutputGroup);
  app.add_flag("--cog", job.Cog,
               "write the TIFF as a cloud-optimised GeoTIFF (512 x 512 tiles,\n"
               "internal overviews), under the same name")
      ->group(kOutputGroup);
  app.add_flag("--preview", job.Preview,
               "write only the quicklook (..._48_ql.png), decoded at the\n"
               "resolution asked for by --reduce, with no 48-bit composite")
      ->group(kOutputGroup);
  app.add_option("--reduce", reduce,
                 "with --quicklook or --preview: decode it at 1/2^N resolution;\n"
                 "otherwise write the composite at JPEG 2000 resolution level N,\n"
                 "named ..._48_rN.tif (N = 0 .. 15)")
      ->type_name("N")
      ->check(Check([](const std::string& v) { return IsNumber(v, 0, 15); }, "takes a number from 0 to 15"))
      ->group(kOutputGroup);

  std::string maskClasses;
  bool maskClouds = false;
  app.add_flag("--mask-clouds", maskClouds,
               "make no data (0 in all three channels, of the picture and the\n"
               "quicklook) every pixel the product's own classification calls\n"
               "no data, defective, cloud shadow, cloud or thin cirrus (scene\n"
               "classes 0, 1, 3, 8, 9, 10), and every pixel any band of which has\n"
               "no data; from the SCL of an L2A product, else from its\n"
               "QI_DATA/MSK_CLASSI_B00.jp2; outputs named ..._masked; the share\n"
               "masked goes to stderr")
      ->group(kOutputGroup);
  app.add_option("--mask-classes", maskClasses,
                 "the scene classes to mask instead (implies --mask-clouds), e.g.\n"
                 "3,8,9,10,11 to drop snow too: 0 no data, 1 defective, 2 dark,\n"
                 "3 cloud shadow, 4 vegetation, 5 bare, 6 water, 7 unclassified,\n"
                 "8 and 9 cloud (medium, high), 10 thin cirrus, 11 snow or ice")
      ->type_name("LIST")
      ->check(CLI::Validator(
          [](std::string& v) {
            std::string why;
            return ParseMaskClasses(v, why) ? std::string() : why;
          },
          ""))
      ->group(kOutputGroup);
  app.add_flag("--cloud-free", job.CloudFree,
               "one picture of all the INPUTs, dates of one tile: per pixel and\n"
               "band the median of the dates on which the pixel is clear (each\n"
               "masked as --mask-clouds does; --mask-classes changes the classes),\n"
               "no data where none is; named from the tile and the first and last\n"
               "dates (T29UNU_20220905_20221015_48_60m_cloudfree.tif), in --out DIR\n"
               "or the current folder")
      ->group(kOutputGroup);

  std::string bbox, projwin, areaFile;
  CLI::Option* const areaOptions[3] = {
      app.add_option("--bbox", bbox,
                     "crop every output to the area W,S,E,N in degrees of longitude and\n"
                     "latitude (WGS 84), e.g. --bbox=-8.52,53.10,-8.45,53.15: only the\n"
                     "code-stream tiles it meets are decoded; the window, snapped outward\n"
                     "to whole pixels and clipped to the tile, goes into the names\n"
                     "(..._48_60m_x512y640w300h200.tif); a tile it misses is passed over")
          ->type_name("W,S,E,N")
          ->group(kOutputGroup),
      app.add_option("--projwin", projwin,
                     "the same for a box in the tile's own coordinates (metres), in\n"
                     "gdal_translate -projwin's order")
          ->type_name("ULX,ULY,LRX,LRY")
          ->group(kOutputGroup),
      app.add_option("--aoi", areaFile,
                     "the same for the bounding box of the polygons of a GeoJSON file\n"
                     "(Polygon, MultiPolygon, Feature or FeatureCollection, longitude\n"
                     "and latitude); pixels whose centres lie outside every polygon are\n"
                     "no data (0, 0, 0)")
          ->type_name("FILE")
          ->group(kOutputGroup)};
  for (CLI::Option* option : areaOptions) option->multi_option_policy(CLI::MultiOptionPolicy::Throw);

  app.add_flag("--false-colour,--false-color", falseColour, "for a product: false colour instead of true colour")
      ->group(kProductGroup);
  app.add_option("--resolution", resolution,
                 "for an L2A product: the 10, 20 or 60 m bands (default: the\nfinest)")
      ->type_name("M")
      ->check(Check([](const std::string& v) { return v == "10" || v == "20" || v == "60"; }, "takes 10, 20 or 60"))
      ->group(kProductGroup);

  app.add_flag("--beep", options.Beep, "beep (BEL) when the picture is written")->group(kProgressGroup);
  app.add_flag("--times", options.Times, "start each progress line with the seconds since start")
      ->group(kProgressGroup);

  app.add_option("--from", options.From,
                 "read more INPUTs from FILE, one a line (- for stdin; blank lines\n"
                 "and lines starting with # are ignored)")
      ->type_name("FILE")
      ->group(kBatchGroup);
  app.add_option("--out", options.Out,
                 "write every output (picture and side files) into DIR instead of\n"
                 "beside its sources, under the same names; DIR is made when missing")
      ->type_name("DIR")
      ->group(kBatchGroup);
  app.add_flag("--force", options.Force, "redo jobs whose outputs are up to date")->group(kBatchGroup);
  app.add_flag("--list", options.List,
               "print the INPUTs of the jobs that would run (not those that would\n"
               "be skipped), one a line as --from reads them, and run nothing")
      ->group(kBatchGroup);
  app.add_option("--jobs", options.Jobs, "run N jobs at once (default 1)")
      ->type_name("N")
      ->check(Check([](const std::string& v) { return IsNumber(v, 1, 1024); }, "takes a number from 1 to 1024"))
      ->group(kBatchGroup);
  app.add_option("--threads", options.Threads,
                 "JPEG 2000 decoding threads of each job (default: the cores shared\n"
                 "out among the jobs, or OPJ_NUM_THREADS)")
      ->type_name("N")
      ->check(Check([](const std::string& v) { return IsNumber(v, 1, 1024); }, "takes a number from 1 to 1024"))
      ->group(kBatchGroup);
  app.add_option("--report", options.Report,
                 "append one JSON record a line per job to FILE: input, output,\n"
                 "status, message, seconds, peak_memory_bytes")
      ->type_name("FILE")
      ->group(kBatchGroup);

  app.add_option("INPUT", options.Inputs, "band files, products, product zips or folders to search")
      ->type_name("");

  app.set_help_flag("-h,--help", "show this text")->group("Help");

  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    WriteLine(stdout, FromUtf8(app.help()));
    return 0;
  } catch (const CLI::ParseError& error) {
    std::string why = error.what();
    std::replace(why.begin(), why.end(), '\n', ' ');
    return UsageError(FromUtf8(why));
  }

  if (png && tiff) return UsageError(L"choose either --png or --tiff");
  options.FormatGiven = png || tiff;
  job.Format = png ? TSaveFormat::Png : TSaveFormat::Tiff;
  job.Product.FalseColour = falseColour;
  job.Product.SayWhenNoProduct = true;  // a console answers every path it is given
  if (!resolution.empty()) job.Product.Metres = std::stoi(resolution);
  options.ProductGiven = falseColour || !resolution.empty();
  if (!reduce.empty()) job.Reduce = static_cast<unsigned>(std::stoul(reduce));
  if (job.Cog && png) return UsageError(L"--cog writes a TIFF: not with --png");
  if (job.Cog && job.Preview) return UsageError(L"--preview writes no composite: not with --cog");
  if (job.WorldFile && !png && !job.Quicklook && !job.Preview)
    return UsageError(L"--world-file goes with a PNG: --png, --quicklook or --preview");
  if (options.Inputs.empty() && options.From.empty()) return UsageError(L"no band file given");
  std::string why;
  if (!maskClasses.empty()) job.Mask = ParseMaskClasses(maskClasses, why);
  else if (maskClouds || job.CloudFree) job.Mask = TMaskClasses::Default();

  // The area, read and checked before any band is.
  int areasGiven = 0;
  for (const CLI::Option* option : areaOptions) areasGiven += option->count() > 0;
  if (areasGiven > 1) return UsageError(L"choose one of --bbox, --projwin and --aoi");
  if (areasGiven == 1) {
    std::optional<TAreaOfInterest> area;
    if (areaOptions[0]->count()) {
      area = ParseBbox(bbox, why);
      job.AreaArguments = {"--bbox", bbox};
    } else if (areaOptions[1]->count()) {
      area = ParseProjwin(projwin, why);
      job.AreaArguments = {"--projwin", projwin};
    } else {
      area = ReadAreaFile(FsPath(FromUtf8(areaFile)), why);
      if (!area) why = "--aoi " + areaFile + ": " + why;
      job.AreaArguments = {"--aoi", areaFile};
    }
    if (!area) return UsageError(FromUtf8(why));
    job.Area = std::make_shared<const TAreaOfInterest>(std::move(*area));
  }

  // The format always, so that outputs made with and without --tiff are known as the same.
  // The area is recorded as JobSoftware says, not as given.
  job.OutputArguments = {png ? "--png" : "--tiff"};
  bool areaValue = false;
  for (const std::string& argument : GivenArguments(app, kOutputGroup)) {
    const bool isArea = argument == "--bbox" || argument == "--projwin" || argument == "--aoi";
    if (!isArea && !areaValue && argument != "--png" && argument != "--tiff") job.OutputArguments.push_back(argument);
    areaValue = isArea;
  }
  job.ProductArguments = GivenArguments(app, kProductGroup);
  job.DisplayArguments = GivenArguments(app, kProgressGroup);
  return -1;
}
