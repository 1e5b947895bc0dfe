// The JPEG 2000 header reader on real band files and on broken boxes, the XML reader's bounds,
// and the offsets of the product metadata.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Jp2GeoBoxes.h"
#include "RealData.h"
#include "TempFolder.h"
#include "TestEnv.h"
#include "BandOffset.h"
#include "TrueColour.h"
#include "XmlTree.h"

namespace {
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

void Put32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}
Bytes Box(const char* type, const Bytes& content) {
  Bytes b;
  Put32(b, uint32_t(content.size() + 8));
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), content.begin(), content.end());
  return b;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

const char* const kGml =
    "<?xml version='1.0'?><gml:FeatureCollection xmlns:gml=\"http://www.opengis.net/gml\">"
    "<gml:featureMember><gml:RectifiedGridCoverage><gml:rectifiedGridDomain><gml:RectifiedGrid dimension=\"2\">"
    "<gml:limits><gml:GridEnvelope><gml:low>1 1</gml:low><gml:high>1830 1830</gml:high></gml:GridEnvelope></gml:limits>"
    "<gml:origin><gml:Point gml:id=\"P1\" srsName=\"SRS\"><gml:pos>POS</gml:pos></gml:Point></gml:origin>"
    "<gml:offsetVector>V1</gml:offsetVector><gml:offsetVector>V2</gml:offsetVector>"
    "</gml:RectifiedGrid></gml:rectifiedGridDomain></gml:RectifiedGridCoverage></gml:featureMember></gml:FeatureCollection>";

std::string Gml(std::string srs = "urn:ogc:def:crs:EPSG::32629", std::string pos = "500010 5900010",
                std::string v1 = "60 0", std::string v2 = "0 -60") {
  std::string s = kGml;
  for (auto [key, value] : {std::pair<std::string, std::string>{"SRS", srs}, {"POS", pos}, {"V1", v1}, {"V2", v2}})
    s.replace(s.find(key), key.size(), value);
  return s;
}

Bytes Signature() { return Box("jP  ", {0x0d, 0x0a, 0x87, 0x0a}); }
Bytes ImageHeader() { return Box("jp2h", Box("ihdr", {0, 0, 7, 0x26, 0, 0, 7, 0x26, 0, 1, 15, 7, 0, 0})); }
Bytes GmlBox(const std::string& xml, const char* dataLabel = "gml.data") {
  return Box("asoc", Cat({Box("lbl ", Text(dataLabel)),
                          Box("asoc", Cat({Box("lbl ", Text("gml.root-instance")), Box("xml ", Text(xml))}))}));
}
Bytes File(const Bytes& boxes) { return Cat({Signature(), ImageHeader(), boxes, Box("jp2c", {0xff, 0x4f})}); }

std::optional<TGridGeoreference> GridOf(const Bytes& b) { return ParseJp2Grid(b.data(), b.size()).Georeference; }

// A GeoTIFF as a GeoJP2 box holds it: one IFD with scale, tie point and keys.
Bytes GeoTiff(bool little, uint16_t rasterType, uint16_t epsg, double tieX, double tieY) {
  Bytes b;
  auto u16 = [&](uint16_t v) { little ? (b.push_back(v & 0xff), b.push_back(v >> 8)) : (b.push_back(v >> 8), b.push_back(v & 0xff)); };
  auto u32 = [&](uint32_t v) { little ? (u16(v & 0xffff), u16(v >> 16)) : (u16(v >> 16), u16(v & 0xffff)); };
  auto f64 = [&](double d) {
    uint64_t v;
    std::memcpy(&v, &d, 8);
    little ? (u32(uint32_t(v)), u32(uint32_t(v >> 32))) : (u32(uint32_t(v >> 32)), u32(uint32_t(v)));
  };
  const uint16_t keys[] = {1, 1, 0, 3, 1024, 0, 1, 1, 1025, 0, 1, rasterType, 3072, 0, 1, epsg};
  const uint32_t ifd = 8, data = ifd + 2 + 3 * 12 + 4;
  b.insert(b.end(), little ? "II" : "MM", (little ? "II" : "MM") + 2);
  u16(42), u32(ifd), u16(3);
  u16(33550), u16(12), u32(3), u32(data);
  u16(33922), u16(12), u32(6), u32(data + 24);
  u16(34735), u16(3), u32(16), u32(data + 72);
  u32(0);
  for (double d : {60.0, 60.0, 0.0}) f64(d);
  for (double d : {0.0, 0.0, 0.0, tieX, tieY, 0.0}) f64(d);
  for (uint16_t k : keys) u16(k);
  return b;
}
Bytes GeoJp2Box(const Bytes& tiff) {
  const Bytes uuid = {0xb1, 0x4b, 0xf8, 0xbd, 0x08, 0x3d, 0x4b, 0x43, 0xa5, 0xae, 0x8c, 0xd7, 0xd5, 0xa6, 0xce, 0x03};
  return Box("uuid", Cat({uuid, tiff}));
}

std::string ReadText(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}
}  // namespace

TEST(Jp2GeoBoxes, RealBandFilesGiveTheGridGdalReports) {
  const fs::path real = testenv::RealData();
  BANDWEAVE_NEED_REAL_DATA(real);
  struct Case {
    const char* file;
    uint32_t size;
    int epsg;  // 0: no georeferencing
    double left, top, pixel;
  };
  const Case cases[] = {
      // ESA's own encoding: GML only, behind a box with a 64-bit length.
      {"l2a_T29UNU_20221005_unmodified/T29UNU_20221005T115411_B04_60m.jp2", 1830, 32629, 499980, 5900040, 60},
      {"l2a_T29UNU_20221005_unmodified/T29UNU_20221005T115411_AOT_10m.jp2", 10980, 32629, 499980, 5900040, 10},
      // Re-encoded: a GeoJP2 box and GML, southern hemisphere.
      {"l2a_T22HBD_20210122_R10m_downsampled_100px/T22HBD_20210122T133229_B04_10m.jp2", 100, 32722, 199980, 5900020, 1098},
      {"l1c_T19UDP_20170729_aws_layout/preview/B04.jp2", 687, 0, 0, 0, 0},
      {"l1c_T19UDP_20170729_aws_layout/B04.jp2", 0, 0, 0, 0, 0},  // a GeoTIFF under a .jp2 name
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const fs::path path = real / fs::u8path(c.file);
    const std::vector<uint8_t> bytes = ReadJp2HeaderBoxes(path);
    EXPECT_LT(bytes.size(), 8192u);  // the header only, never the codestream
    const TJp2Grid h = ParseJp2Grid(bytes.data(), bytes.size());
    EXPECT_EQ(h.Width, c.size);
    EXPECT_EQ(h.Height, c.size);
    ASSERT_EQ(h.Georeference.has_value(), c.epsg != 0);
    if (!c.epsg) continue;
    EXPECT_EQ(h.Georeference->Epsg, c.epsg);
    EXPECT_EQ(h.Georeference->Left, c.left);
    EXPECT_EQ(h.Georeference->Top, c.top);
    EXPECT_EQ(h.Georeference->PixelWidth, c.pixel);
    EXPECT_EQ(h.Georeference->PixelHeight, c.pixel);
  }
}

TEST(Jp2GeoBoxes, GeoJp2InEitherByteOrderAndAheadOfGml) {
  const TGridGeoreference corner{32633, 300000, 5600040, 60, 60};
  for (bool little : {true, false}) {
    SCOPED_TRACE(little ? "II" : "MM");
    EXPECT_EQ(GridOf(File(GeoJp2Box(GeoTiff(little, 1, 32633, 300000, 5600040)))), corner);
    // PixelIsPoint ties the first pixel's centre.
    EXPECT_EQ(GridOf(File(GeoJp2Box(GeoTiff(little, 2, 32633, 300030, 5600010)))), corner);
  }
  // Both present: the GeoJP2 box wins, as in GDAL.
  EXPECT_EQ(GridOf(File(Cat({GmlBox(Gml()), GeoJp2Box(GeoTiff(true, 1, 32633, 300000, 5600040))}))), corner);
  // A GeoJP2 box with a coordinate system we cannot name leaves the GML to speak.
  EXPECT_EQ(GridOf(File(Cat({GeoJp2Box(GeoTiff(true, 1, 4326, 0, 0)), GmlBox(Gml())}))),
            (TGridGeoreference{32629, 499980, 5900040, 60, 60}));
  // Truncated anywhere, the GeoTIFF yields nothing and reads nothing outside itself.
  const Bytes tiff = GeoTiff(true, 1, 32633, 300000, 5600040);
  for (size_t n = 0; n < tiff.size(); ++n)
    EXPECT_FALSE(jp2geo::GridFromGeoTiff(tiff.data(), n).has_value()) << n;
}

TEST(Jp2GeoBoxes, BrokenBoxesAndDocumentsGiveNoGeoreferencingAndNoFault) {
  const TGridGeoreference esa{32629, 499980, 5900040, 60, 60};
  Bytes xlAsoc = GmlBox(Gml());  // the same box with a 64-bit length, as ESA writes it
  {
    const uint32_t n = uint32_t(xlAsoc.size() + 8);
    Bytes head = {0, 0, 0, 1, 'a', 's', 'o', 'c', 0, 0, 0, 0};
    Put32(head, n);
    xlAsoc = Cat({head, Bytes(xlAsoc.begin() + 8, xlAsoc.end())});
  }
  auto withLength = [](Bytes b, uint32_t length) {
    b[0] = uint8_t(length >> 24), b[1] = uint8_t(length >> 16), b[2] = uint8_t(length >> 8), b[3] = uint8_t(length);
    return b;
  };
  Bytes deep = GmlBox(Gml());
  for (int i = 0; i < 3000; ++i) deep = Box("asoc", deep);

  struct Case {
    const char* what;
    Bytes file;
    bool georeferenced;
  };
  const Case cases[] = {
      {"plain", File(GmlBox(Gml())), true},
      {"64-bit length", File(xlAsoc), true},
      {"label padded with NUL", File(GmlBox(Gml(), std::string("gml.data\0", 9).c_str())), true},
      {"length 0: to the end", Cat({Signature(), withLength(GmlBox(Gml()), 0)}), true},
      {"no signature", Cat({ImageHeader(), GmlBox(Gml())}), false},
      {"length past the end", Cat({Signature(), withLength(GmlBox(Gml()), 0x7fffffff)}), false},
      {"length 3", File(Cat({withLength(Box("free", {}), 3), GmlBox(Gml())})), false},
      {"64-bit length past the end", File(Cat({Bytes{0, 0, 0, 1, 'f', 'r', 'e', 'e', 0x7f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, GmlBox(Gml())})), false},
      {"64-bit length below its header", File(Cat({Bytes{0, 0, 0, 1, 'f', 'r', 'e', 'e', 0, 0, 0, 0, 0, 0, 0, 8}, GmlBox(Gml())})), false},
      {"after the codestream", Cat({File({}), GmlBox(Gml())}), false},
      {"nested 3000 deep", File(deep), false},
      {"label other than gml.data", File(GmlBox(Gml(), "gml.feature")), false},
      {"EPSG code not a number", File(GmlBox(Gml("urn:ogc:def:crs:EPSG::32629x"))), false},
      {"no EPSG authority", File(GmlBox(Gml("urn:ogc:def:crs:OGC:1.3:CRS84"))), false},
      {"geographic system", File(GmlBox(Gml("urn:ogc:def:crs:EPSG::4326"))), false},
      {"rotated grid", File(GmlBox(Gml("EPSG:32629", "500010 5900010", "60 1", "0 -60"))), false},
      {"south-up grid", File(GmlBox(Gml("EPSG:32629", "500010 5900010", "60 0", "0 60"))), false},
      {"one coordinate", File(GmlBox(Gml("EPSG:32629", "500010"))), false},
      {"not a number", File(GmlBox(Gml("EPSG:32629", "500010 nan"))), false},
      {"no offset vectors", File(GmlBox(std::string(kGml).replace(std::string(kGml).find("<gml:offsetVector>"), 70, ""))), false},
      {"XML cut short", File(GmlBox(Gml().substr(0, Gml().size() - 30))), false},
      {"XML with an entity from a DTD", File(GmlBox("<!DOCTYPE x [<!ENTITY e \"1\">]>" + Gml())), false},
      {"XML without a grid", File(GmlBox("<gml:FeatureCollection/>")), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<TGridGeoreference> g = GridOf(c.file);
    ASSERT_EQ(g.has_value(), c.georeferenced);
    if (g) {
      EXPECT_EQ(*g, esa);
    }
  }
  // Every prefix of a good file is read without a fault.
  const Bytes good = File(xlAsoc);
  for (size_t n = 0; n <= good.size(); ++n) ParseJp2Grid(good.data(), n);
}

// A pixel of 1e308 m is finite, and so is everything written for it at full resolution; at a
// quarter of the resolution it is not, and that grid is dropped rather than written as inf.
TEST(Jp2GeoBoxes, HugePixelsGiveNoGridOnceTheirNumbersStopBeingFinite) {
  const std::optional<TGridGeoreference> huge = GridOf(File(GmlBox(Gml("EPSG:32633", "300015 5600025", "1e308 0", "0 -1e308"))));
  ASSERT_TRUE(huge);
  EXPECT_TRUE(IsFinite(*huge));
  EXPECT_EQ(WorldFileText(*huge).find("inf"), std::string::npos);
  EXPECT_TRUE(ReducedGrid(*huge, 0));
  EXPECT_FALSE(ReducedGrid(*huge, 2));
  const TGridGeoreference ordinary{32633, 300000, 5600040, 60, 60};
  EXPECT_EQ(ReducedGrid(ordinary, 2), (TGridGeoreference{32633, 300000, 5600040, 240, 240}));
  // A corner at the edge of the doubles: the first pixel's centre would not be finite.
  EXPECT_FALSE(IsFinite(TGridGeoreference{32633, 1.7e308, 5600040, 1e308, 60}));
  EXPECT_FALSE(IsFinite(TGridGeoreference{32633, 300000, -1.7e308, 60, 1e308}));
}

TEST(Jp2GeoBoxes, FileReaderStopsAtTheCodestreamAndSurvivesOddLengths) {
  const fs::path dir = testenv::FreshPrivateFolder("bandweave-jp2geo-");
  const fs::path path = dir / "x_B04.jp2";
  auto write = [&](const Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  };
  Bytes big = File(GmlBox(Gml()));
  big.resize(big.size() + (1u << 20), 0xee);  // codestream bytes that must not be read
  write(big);
  EXPECT_EQ(ReadJp2HeaderBoxes(path).size(), big.size() - (1u << 20) - 10);
  EXPECT_TRUE(ReadJp2Grid(path).Georeference.has_value());
  write(Cat({Signature(), Box("free", Bytes(200, 0)), Bytes{0, 0, 0, 1, 'f', 'r', 'e', 'e', 0xff, 0, 0, 0, 0, 0, 0, 0}}));
  EXPECT_FALSE(ReadJp2Grid(path).Georeference.has_value());
  write(Bytes{0, 0, 0, 12});
  EXPECT_EQ(ReadJp2Grid(path).Width, 0u);
  EXPECT_TRUE(ReadJp2HeaderBoxes(dir / "absent.jp2").empty());
  fs::remove_all(dir);
}

TEST(XmlTree, ReadsWhatDocumentsUseAndRefusesBeyondItsBounds) {
  const auto doc = ParseXml("\xEF\xBB\xBF<?xml version='1.0'?><!-- c --><a:r x='1 &amp; 2'>t&lt;<![CDATA[<b>]]>&#x41;&#66;<b/><c>u</c></a:r>\0\0");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->LocalName(), "r");
  EXPECT_EQ(*doc->Attribute("x"), "1 & 2");
  EXPECT_EQ(doc->Text, "t<<b>AB");
  EXPECT_EQ(doc->Find("c")->Text, "u");
  std::string nested;
  for (size_t i = 0; i < kXmlMaxDepth; ++i) nested = "<e>" + nested + "</e>";
  EXPECT_TRUE(ParseXml(nested));
  EXPECT_FALSE(ParseXml("<e>" + nested + "</e>"));
  for (const char* bad : {"", "<a>", "<a></b>", "<a x=1/>", "<a x='<'/>", "<a>&unknown;</a>", "<a>&#0;</a>",
                          "<a>&#xD800;</a>", "<a><!DOCTYPE b></a>", "<a><![CDATA[x</a>", "text"})
    EXPECT_FALSE(ParseXml(bad)) << bad;
}

TEST(ProductMetadata, BandOffsetsOfRealProducts) {
  EXPECT_EQ(Sentinel2BandId("T29UNU_20221005T115411_B04_60m.jp2"), 3);
  EXPECT_EQ(Sentinel2BandId("/x/B02_dir/T33UUP_20250101T101021_B08.jp2"), 7);
  EXPECT_EQ(Sentinel2BandId("T29UNU_20221005T115411_B8A_60m.jp2"), 8);
  EXPECT_EQ(Sentinel2BandId("T29UNU_20221005T115411_B12_20m.jp2"), 12);
  EXPECT_EQ(Sentinel2BandId("b09.jp2"), 9);
  EXPECT_FALSE(Sentinel2BandId("T29UNU_20221005T115411_TCI_60m.jp2"));
  EXPECT_FALSE(Sentinel2BandId("SUB04.jp2"));

  const fs::path real = testenv::RealData();
  BANDWEAVE_NEED_REAL_DATA(real);
  // Baseline 04.00: -1000 for every band.
  const std::string recent = ReadText(real / "l2a_T29UNU_20221005_unmodified" / "MTD_MSIL2A.xml");
  for (int band : {1, 2, 3, 7}) {
    const TBandOffset o = BandOffsetFromMetadata(recent, band);
    EXPECT_TRUE(o.Readable);
    EXPECT_EQ(o.Offset, -1000);
  }
  // Baseline 02.xx: no offsets at all.
  const TBandOffset old =
      BandOffsetFromMetadata(ReadText(real / "l2a_T22HBD_20210122_R10m_downsampled_100px" / "MTD_MSIL2A.xml"), 3);
  EXPECT_TRUE(old.Readable);
  EXPECT_FALSE(old.Offset);
}

TEST(TrueColour, NoDataStaysZeroAndValidDarkPixelsBecomeOne) {
  EXPECT_EQ(TrueColourByte(0, -1000), 0);
  EXPECT_EQ(TrueColourByte(1, -1000), 1);
  EXPECT_EQ(TrueColourByte(1000, -1000), 1);
  EXPECT_EQ(TrueColourByte(1001, -1000), 1);
  EXPECT_EQ(TrueColourByte(1010, -1000), 2);
  EXPECT_EQ(TrueColourByte(3491, -1000), 254);
  EXPECT_EQ(TrueColourByte(3500, -1000), 255);
  EXPECT_EQ(TrueColourByte(65535, 0), 255);
  EXPECT_EQ(TrueColourByte(2500, 0), 255);
}
