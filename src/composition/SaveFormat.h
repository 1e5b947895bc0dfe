// The composite's file formats.
#pragma once

// Numbered as the host's choice is (0 PNG, 1 TIFF: the window's radio group and its stored
// setting); any other choice is none.
// Cog is never a host's choice: it is the TIFF written cloud-optimised, when a job asks for it.
enum class TSaveFormat { None = -1, Png = 0, Tiff = 1, Cog = 2 };

inline TSaveFormat SaveFormatOf(int choice) {
  return choice == 0 ? TSaveFormat::Png : choice == 1 ? TSaveFormat::Tiff : TSaveFormat::None;
}
