// What the three ways of naming an area accept, and that every unusable input is refused with
// a reason that says what is wrong.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "AreaOfInterest.h"
#include "TempFolder.h"

namespace fs = std::filesystem;

namespace {
std::string BboxError(const std::string& text) {
  std::string error;
  EXPECT_FALSE(ParseBbox(text, error)) << text;
  return error;
}
std::string GeoJsonError(const std::string& text) {
  std::string error;
  EXPECT_FALSE(ParseGeoJson(text, error)) << text;
  return error;
}
const char* kSquare = "[[-8,53],[-7.9,53],[-7.9,53.1],[-8,53.1],[-8,53]]";
}  // namespace

TEST(AreaOfInterest, BboxAndProjwinAreReadInTheirOwnOrder) {
  std::string error;
  const auto box = ParseBbox(" -8.52, 53.10,-8.45 ,+53.15", error);
  ASSERT_TRUE(box) << error;
  EXPECT_EQ(box->Kind, TAreaKind::LonLatBox);
  EXPECT_DOUBLE_EQ(box->LonLat.West, -8.52);
  EXPECT_DOUBLE_EQ(box->LonLat.South, 53.10);
  EXPECT_DOUBLE_EQ(box->LonLat.East, -8.45);
  EXPECT_DOUBLE_EQ(box->LonLat.North, 53.15);

  const auto win = ParseProjwin("500000,5900000,505000,5895000", error);
  ASSERT_TRUE(win) << error;
  EXPECT_EQ(win->Kind, TAreaKind::ProjectedBox);
  EXPECT_EQ(win->Projected.MinX, 500000);
  EXPECT_EQ(win->Projected.MaxY, 5900000);
  EXPECT_EQ(win->Projected.MaxX, 505000);
  EXPECT_EQ(win->Projected.MinY, 5895000);
}

TEST(AreaOfInterest, BadBoxesSayWhatIsWrong) {
  EXPECT_NE(BboxError("1,2,3").find("four numbers"), std::string::npos);
  EXPECT_NE(BboxError("1,2,3,4,5").find("four numbers"), std::string::npos);
  EXPECT_NE(BboxError("1,2,x,4").find("four numbers"), std::string::npos);
  EXPECT_NE(BboxError("1,2,,4").find("four numbers"), std::string::npos);
  EXPECT_NE(BboxError("1,2,3,4e999").find("four numbers"), std::string::npos);
  EXPECT_NE(BboxError("1,2,3,nan").find("four numbers"), std::string::npos);
  EXPECT_NE(BboxError("-181,2,3,4").find("outside"), std::string::npos);
  EXPECT_NE(BboxError("1,-90.5,3,4").find("outside"), std::string::npos);
  EXPECT_NE(BboxError("3,2,3,4").find("west 3 is not less than east 3"), std::string::npos);
  EXPECT_NE(BboxError("179,2,-179,4").find("antimeridian"), std::string::npos);
  EXPECT_NE(BboxError("1,4,3,4").find("south 4 is not less than north 4"), std::string::npos);
  std::string error;
  EXPECT_FALSE(ParseProjwin("505000,5900000,500000,5895000", error));
  EXPECT_NE(error.find("empty"), std::string::npos);
  EXPECT_FALSE(ParseProjwin("500000,5895000,505000,5900000", error));
  EXPECT_FALSE(ParseProjwin("500000,5895000,505000", error));
}

TEST(AreaOfInterest, GeoJsonShapesGiveTheirPolygonsAndBox) {
  const std::string polygon = std::string(R"({"type":"Polygon","coordinates":[)") + kSquare + "]}";
  const std::string holed = R"({"type":"Polygon","coordinates":[)" + std::string(kSquare) +
                            R"(,[[-7.97,53.03],[-7.93,53.03],[-7.93,53.07],[-7.97,53.03]]]})";
  const std::string multi = R"({"type":"MultiPolygon","coordinates":[[)" + std::string(kSquare) +
                            R"(],[[[-7,52],[-6.5,52],[-6.5,52.5],[-7,52]]]]})";
  const std::string feature = R"({"type":"Feature","properties":{"name":"field"},"geometry":)" + polygon + "}";
  const std::string collection =
      R"({"type":"FeatureCollection","features":[)" + feature + R"(,{"type":"Feature","properties":null,"geometry":)" +
      multi + "}]}";
  struct {
    const std::string& text;
    size_t polygons, rings;
    double west, north;
  } cases[] = {{polygon, 1, 1, -8, 53.1}, {holed, 1, 2, -8, 53.1}, {multi, 2, 1, -8, 53.1},
               {feature, 1, 1, -8, 53.1}, {collection, 3, 1, -8, 53.1}};
  for (const auto& c : cases) {
    std::string error;
    const auto area = ParseGeoJson(c.text, error);
    ASSERT_TRUE(area) << error << "\n" << c.text;
    EXPECT_EQ(area->Kind, TAreaKind::Polygons);
    EXPECT_EQ(area->Polygons.size(), c.polygons);
    EXPECT_EQ(area->Polygons[0].Rings.size(), c.rings);
    EXPECT_EQ(area->LonLat.West, c.west);
    EXPECT_EQ(area->LonLat.North, c.north);
  }
  std::string error;
  const auto all = ParseGeoJson(collection, error);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->LonLat.East, -6.5);
  EXPECT_EQ(all->LonLat.South, 52);
}

TEST(AreaOfInterest, BadGeoJsonSaysWhatIsWrong) {
  const std::string open = R"({"type":"Polygon","coordinates":[[[-8,53],[-7.9,53],[-7.9,53.1],[-8,53.1]]]})";
  const std::string three = R"({"type":"Polygon","coordinates":[[[-8,53],[-7.9,53],[-8,53]]]})";
  const std::string outside = R"({"type":"Polygon","coordinates":[[[-8,53],[-7.9,93],[-7.9,53.1],[-8,53]]]})";
  const std::string crossing = R"({"type":"Polygon","coordinates":[[[179,1],[-179,1],[-179,2],[179,2],[179,1]]]})";
  const std::string split =
      R"({"type":"MultiPolygon","coordinates":[[[[179,1],[180,1],[180,2],[179,1]]],[[[-180,1],[-179,1],[-179,2],[-180,1]]]]})";
  const std::string flat = R"({"type":"Polygon","coordinates":[[[-8,53],[-7,53],[-7.5,53],[-8,53]]]})";
  struct {
    std::string text, reason;
  } cases[] = {
      {"{\"type\":\"Polygon\",", "not valid JSON"},
      {"[1,2]", "no \"type\""},
      {R"({"type":"Point","coordinates":[1,2]})", "Point; only Polygon and MultiPolygon"},
      {R"({"type":"Polygon"})", "without coordinates"},
      {R"({"type":"Feature","geometry":null})", "without a geometry"},
      {R"({"type":"FeatureCollection","features":[]})", "no polygon"},
      {R"({"type":"FeatureCollection","features":[{"type":"Polygon","coordinates":[]}]})", "not a Feature"},
      {R"({"type":"FeatureCollection"})", "without a \"features\" array"},
      {R"({"type":"Polygon","coordinates":[[[-8,"53"],[1,1],[1,2],[-8,53]]]})", "not [longitude, latitude]"},
      {R"({"type":"Polygon","coordinates":[[[-8],[1,1],[1,2],[-8,53]]]})", "not [longitude, latitude]"},
      {R"({"type":"Polygon","coordinates":[[]]})", "with 0 positions"},
      {R"({"type":"Polygon","coordinates":[{"a":1}]})", "not an array of positions"},
      {R"({"type":{"x":1},"coordinates":[]})", "no \"type\""},
      {open, "not closed"},
      {three, "with 3 positions; a ring needs at least 4"},
      {outside, "outside longitude -180..180, latitude -90..90"},
      {crossing, "antimeridian"},
      {split, "antimeridian"},
      {flat, "no area"},
      {std::string(100, '[') + std::string(100, ']'), "nests deeper"},
  };
  for (const auto& c : cases) {
    const std::string error = GeoJsonError(c.text);
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << "\n gave: " << error;
  }
}

TEST(AreaOfInterest, AreaFilesAreReadWithinTheirLimit) {
  const fs::path dir = testenv::FreshPrivateFolder("bandweave-aoi-files-");
  std::string error;
  EXPECT_FALSE(ReadAreaFile(dir / "missing.geojson", error));
  EXPECT_NE(error.find("cannot read"), std::string::npos);
  EXPECT_FALSE(ReadAreaFile(dir, error)) << "a folder is no area file";

  const fs::path good = dir / "field.geojson";
  std::ofstream(good, std::ios::binary) << R"({"type":"Polygon","coordinates":[)" << kSquare << "]}";
  const auto area = ReadAreaFile(good, error);
  ASSERT_TRUE(area) << error;
  EXPECT_EQ(area->Polygons.size(), 1u);

  // Valid JSON all the way through, only too large: refused for its size, before parsing.
  const fs::path huge = dir / "huge.geojson";
  {
    std::ofstream out(huge, std::ios::binary);
    out << R"({"type":"Polygon","pad":")" << std::string(kMaxAreaFileBytes, ' ') << R"(","coordinates":[)"
        << kSquare << "]}";
  }
  EXPECT_FALSE(ReadAreaFile(huge, error));
  EXPECT_NE(error.find("at most 16 MiB"), std::string::npos) << error;
  fs::remove_all(dir);
}
