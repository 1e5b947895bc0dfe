// An area of interest as the user names it: a longitude/latitude box (--bbox), a box in the
// tile's own coordinates (--projwin) or the polygons of a GeoJSON file (--aoi). Parsing checks
// everything that can be checked before a band is read and says what is wrong.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct TLonLat {
  double Lon = 0, Lat = 0;  // WGS 84 degrees
};
// A closed ring: at least four positions, the last equal to the first.
using TRing = std::vector<TLonLat>;
// The outer ring first, then its holes.
struct TPolygon {
  std::vector<TRing> Rings;
};

struct TLonLatBox {
  double West = 0, South = 0, East = 0, North = 0;
};
struct TProjectedBox {
  double MinX = 0, MinY = 0, MaxX = 0, MaxY = 0;  // metres
};

enum class TAreaKind { LonLatBox, ProjectedBox, Polygons };

struct TAreaOfInterest {
  TAreaKind Kind = TAreaKind::LonLatBox;
  TLonLatBox LonLat;             // LonLatBox, and the polygons' bounding box for Polygons
  TProjectedBox Projected;       // ProjectedBox only
  std::vector<TPolygon> Polygons;  // Polygons only
};

// A GeoJSON file larger than this is refused unread: a field or a town takes a few kilobytes.
constexpr std::uintmax_t kMaxAreaFileBytes = 16u << 20;
// Deeper nesting than any Polygon or FeatureCollection needs is refused before parsing.
constexpr int kMaxAreaJsonDepth = 32;

// Each returns nothing and sets error to the reason when the input is unusable.
// "W,S,E,N" in degrees.
std::optional<TAreaOfInterest> ParseBbox(const std::string& text, std::string& error);
// "ULX,ULY,LRX,LRY" in the tile's metres, gdal_translate -projwin's order.
std::optional<TAreaOfInterest> ParseProjwin(const std::string& text, std::string& error);
// RFC 7946 text: a Polygon, MultiPolygon, Feature or FeatureCollection of them.
std::optional<TAreaOfInterest> ParseGeoJson(const std::string& text, std::string& error);
std::optional<TAreaOfInterest> ReadAreaFile(const std::filesystem::path& file, std::string& error);

// The polygons as one GeoJSON MultiPolygon, every number written so that it reads back exactly:
// what a batch hands its jobs, so that every job sees the file as the batch first read it.
std::string AreaGeoJson(const TAreaOfInterest& area);
// What identifies an area's polygons however the file spelled them: "polygons:" and 16 hex
// digits of a hash of AreaGeoJson. Outputs record it, so that a later run tells two areas with
// the same bounding box apart.
std::string AreaFingerprint(const TAreaOfInterest& area);
