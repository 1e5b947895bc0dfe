// The scene classes a cloud mask removes. The scene classification layer (SCL) of an L2A
// product gives every pixel one class: 0 no data, 1 saturated or defective, 2 dark area,
// 3 cloud shadow, 4 vegetation, 5 not vegetated, 6 water, 7 unclassified, 8 cloud medium
// probability, 9 cloud high probability, 10 thin cirrus, 11 snow or ice.
#pragma once
#include <bitset>
#include <optional>
#include <string>

constexpr unsigned kSceneClassCount = 12;

struct TMaskClasses {
  std::bitset<kSceneClassCount> Masked;

  bool Has(unsigned sceneClass) const { return sceneClass < kSceneClassCount && Masked[sceneClass]; }
  // No data, defective, cloud shadow, both cloud probabilities and cirrus.
  static TMaskClasses Default();
};

// "3,8,9,10,11": class numbers 0..11 separated by commas, blanks allowed around them. Nothing,
// with the reason in error, for an empty list, a number out of range or anything else.
std::optional<TMaskClasses> ParseMaskClasses(const std::string& text, std::string& error);

// The classes as a list again, in increasing order ("0,1,3,8,9,10").
std::string MaskClassesText(const TMaskClasses& classes);
