#include "AreaOfInterest.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>

using nlohmann::json;

namespace {
std::string Trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// Four finite numbers separated by commas; from_chars, so that no locale changes the meaning.
bool FourNumbers(const std::string& text, double (&out)[4]) {
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const size_t comma = text.find(',', start);
    if ((i < 3) != (comma != std::string::npos)) return false;
    const std::string part = Trimmed(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    const char* first = part.data();
    if (!part.empty() && part[0] == '+') ++first;
    const char* last = part.data() + part.size();
    const auto [end, ec] = std::from_chars(first, last, out[i]);
    if (part.empty() || ec != std::errc() || end != last || !std::isfinite(out[i])) return false;
    start = comma + 1;
  }
  return true;
}

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

bool InRange(const TLonLat& p) {
  return std::isfinite(p.Lon) && std::isfinite(p.Lat) && p.Lon >= -180 && p.Lon <= 180 && p.Lat >= -90 &&
         p.Lat <= 90;
}

// How deep brackets nest, outside strings; the parse and the tree's release then never go deep.
int NestingDepth(const std::string& text) {
  int depth = 0, deepest = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

struct TGeoJsonReader {
  std::vector<TPolygon> Polygons;
  std::string Error;

  bool Fail(const std::string& why) {
    Error = "the area file " + why;
    return false;
  }

  bool Position(const json& j, TLonLat& p) {
    if (!j.is_array() || j.size() < 2 || !j[0].is_number() || !j[1].is_number())
      return Fail("holds a position that is not [longitude, latitude]");
    p = {j[0].get<double>(), j[1].get<double>()};
    if (!InRange(p))
      return Fail("holds the position [" + Num(p.Lon) + ", " + Num(p.Lat) +
                  "] outside longitude -180..180, latitude -90..90");
    return true;
  }

  bool Polygon(const json& coordinates) {
    const std::string which = "polygon " + std::to_string(Polygons.size() + 1);
    if (!coordinates.is_array() || coordinates.empty())
      return Fail("has a " + which + " whose coordinates are not an array of rings");
    TPolygon polygon;
    for (const json& ringJson : coordinates) {
      if (!ringJson.is_array()) return Fail("has a ring of " + which + " that is not an array of positions");
      TRing ring;
      for (const json& position : ringJson) {
        TLonLat p;
        if (!Position(position, p)) return false;
        ring.push_back(p);
      }
      if (ring.size() < 4)
        return Fail("has a ring of " + which + " with " + std::to_string(ring.size()) +
                    " positions; a ring needs at least 4");
      if (ring.front().Lon != ring.back().Lon || ring.front().Lat != ring.back().Lat)
        return Fail("has a ring of " + which + " that is not closed: its last position differs from its first");
      // RFC 7946 cuts a shape at the antimeridian; an edge longer than half the world is one
      // that crosses it and would otherwise be read as a box around the world.
      for (size_t i = 1; i < ring.size(); ++i)
        if (std::fabs(ring[i].Lon - ring[i - 1].Lon) > 180)
          return Fail("has " + which + " crossing the antimeridian, which is not supported");
      polygon.Rings.push_back(std::move(ring));
    }
    Polygons.push_back(std::move(polygon));
    return true;
  }

  bool Geometry(const json& g) {
    if (!g.is_object() || !g.contains("type") || !g["type"].is_string())
      return Fail("holds a geometry without a type");
    const std::string type = g["type"].get<std::string>();
    if (type != "Polygon" && type != "MultiPolygon")
      return Fail("holds a " + type + "; only Polygon and MultiPolygon areas are supported");
    if (!g.contains("coordinates") || !g["coordinates"].is_array())
      return Fail("holds a " + type + " without coordinates");
    if (type == "Polygon") return Polygon(g["coordinates"]);
    for (const json& p : g["coordinates"])
      if (!Polygon(p)) return false;
    return true;
  }

  bool Feature(const json& f) {
    if (!f.contains("geometry") || f["geometry"].is_null()) return Fail("holds a Feature without a geometry");
    return Geometry(f["geometry"]);
  }

  bool Object(const json& j) {
    if (!j.is_object() || !j.contains("type") || !j["type"].is_string())
      return Fail("is not a GeoJSON object: it has no \"type\"");
    const std::string type = j["type"].get<std::string>();
    if (type == "FeatureCollection") {
      if (!j.contains("features") || !j["features"].is_array())
        return Fail("holds a FeatureCollection without a \"features\" array");
      for (const json& f : j["features"]) {
        if (!f.is_object() || f.value("type", json()).get<std::string>() != "Feature")
          return Fail("holds a FeatureCollection member that is not a Feature");
        if (!Feature(f)) return false;
      }
      return true;
    }
    if (type == "Feature") return Feature(j);
    return Geometry(j);
  }
};
}  // namespace

std::optional<TAreaOfInterest> ParseBbox(const std::string& text, std::string& error) {
  double v[4];
  if (!FourNumbers(text, v)) {
    error = "--bbox takes four numbers W,S,E,N in degrees, e.g. --bbox -8.52,53.10,-8.45,53.15";
    return std::nullopt;
  }
  const double w = v[0], s = v[1], e = v[2], n = v[3];
  if (!InRange({w, s}) || !InRange({e, n})) {
    error = "--bbox lies outside longitude -180..180, latitude -90..90";
    return std::nullopt;
  }
  if (w >= e) {
    error = "--bbox: west " + Num(w) + " is not less than east " + Num(e) +
            " (the box is empty; a box across the antimeridian is not supported)";
    return std::nullopt;
  }
  if (s >= n) {
    error = "--bbox: south " + Num(s) + " is not less than north " + Num(n) + " (the box is empty)";
    return std::nullopt;
  }
  TAreaOfInterest area;
  area.Kind = TAreaKind::LonLatBox;
  area.LonLat = {w, s, e, n};
  return area;
}

std::optional<TAreaOfInterest> ParseProjwin(const std::string& text, std::string& error) {
  double v[4];
  if (!FourNumbers(text, v)) {
    error = "--projwin takes four numbers ULX,ULY,LRX,LRY in the tile's metres";
    return std::nullopt;
  }
  if (v[0] >= v[2] || v[1] <= v[3]) {
    error = "--projwin: the upper left corner must lie left of and above the lower right one (the window is empty)";
    return std::nullopt;
  }
  TAreaOfInterest area;
  area.Kind = TAreaKind::ProjectedBox;
  area.Projected = {v[0], v[3], v[2], v[1]};
  return area;
}

std::optional<TAreaOfInterest> ParseGeoJson(const std::string& text, std::string& error) {
  if (NestingDepth(text) > kMaxAreaJsonDepth) {
    error = "the area file nests deeper than " + std::to_string(kMaxAreaJsonDepth) + " levels, which no GeoJSON area needs";
    return std::nullopt;
  }
  const json root = json::parse(text, nullptr, false);
  if (root.is_discarded()) {
    error = "the area file is not valid JSON";
    return std::nullopt;
  }
  TGeoJsonReader reader;
  try {
    if (!reader.Object(root)) {
      error = reader.Error;
      return std::nullopt;
    }
  } catch (const json::exception&) {
    error = "the area file is not GeoJSON: a member has the wrong kind of value";
    return std::nullopt;
  }
  if (reader.Polygons.empty()) {
    error = "the area file holds no polygon";
    return std::nullopt;
  }
  TAreaOfInterest area;
  area.Kind = TAreaKind::Polygons;
  TLonLatBox box{180, 90, -180, -90};
  for (const TPolygon& p : reader.Polygons)
    for (const TLonLat& q : p.Rings.front()) {
      box.West = std::min(box.West, q.Lon);
      box.East = std::max(box.East, q.Lon);
      box.South = std::min(box.South, q.Lat);
      box.North = std::max(box.North, q.Lat);
    }
  // Parts on both sides of the antimeridian, as RFC 7946 cuts such a shape.
  if (box.East - box.West > 180) {
    error = "the area file spans more than half the world in longitude (it crosses the antimeridian), which is not supported";
    return std::nullopt;
  }
  if (box.West >= box.East || box.South >= box.North) {
    error = "the area file's polygons have no area";
    return std::nullopt;
  }
  area.LonLat = box;
  area.Polygons = std::move(reader.Polygons);
  return area;
}

std::optional<TAreaOfInterest> ReadAreaFile(const std::filesystem::path& file, std::string& error) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || !std::filesystem::is_regular_file(file, ec)) {
    error = "cannot read the area file " + file.u8string();
    return std::nullopt;
  }
  if (size > kMaxAreaFileBytes) {
    error = "the area file " + file.u8string() + " has " + std::to_string(size >> 20) +
            " MiB; an area file may have at most " + std::to_string(kMaxAreaFileBytes >> 20) + " MiB";
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  std::string text;
  text.reserve(static_cast<size_t>(size));
  // Read no more than the limit, even if the file grew since its size was taken.
  char buf[65536];
  while (in && text.size() <= kMaxAreaFileBytes) {
    in.read(buf, sizeof buf);
    text.append(buf, static_cast<size_t>(in.gcount()));
  }
  if (in.bad() || text.size() > kMaxAreaFileBytes) {
    error = "cannot read the area file " + file.u8string();
    return std::nullopt;
  }
  return ParseGeoJson(text, error);
}

std::string AreaGeoJson(const TAreaOfInterest& area) {
  json polygons = json::array();
  for (const TPolygon& polygon : area.Polygons) {
    json rings = json::array();
    for (const TRing& ring : polygon.Rings) {
      json positions = json::array();
      for (const TLonLat& p : ring) positions.push_back({p.Lon, p.Lat});
      rings.push_back(std::move(positions));
    }
    polygons.push_back(std::move(rings));
  }
  // nlohmann writes the shortest text that reads back as the same double.
  return json{{"type", "MultiPolygon"}, {"coordinates", std::move(polygons)}}.dump();
}

std::string AreaFingerprint(const TAreaOfInterest& area) {
  // FNV-1a, 64 bits: enough to tell areas apart, not meant to resist anyone.
  uint64_t hash = 0xcbf29ce484222325ull;
  for (const unsigned char c : AreaGeoJson(area)) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  char text[40];
  std::snprintf(text, sizeof text, "polygons:%016llx", static_cast<unsigned long long>(hash));
  return text;
}
