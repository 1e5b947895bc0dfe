// Band-file names, output names and the texts the job builds; no image is touched.
#include <gtest/gtest.h>

#include "CompositeJob.h"
#include "TextCodec.h"

namespace {
const std::wstring kDir = L"/data/S2B_MSIL1C/GRANULE/IMG_DATA/";
const std::wstring kStem = kDir + L"T33UUP_20250101T101021_";

TEST(DeriveBandNames, AnyTrueColourBandGivesTheSameSet) {
  for (const wchar_t* band : {L"B02.jp2", L"B03.jp2", L"B04.jp2"}) {
    SCOPED_TRACE(band);
    const TBandNames names = DeriveBandNames(kStem + band);
    EXPECT_TRUE(names.Started);
    EXPECT_EQ(names.BandToken, L"B04.jp2");
    EXPECT_EQ(names.Red, kStem + L"B04.jp2");
    EXPECT_EQ(names.Green, kStem + L"B03.jp2");
    EXPECT_EQ(names.Blue, kStem + L"B02.jp2");
    EXPECT_EQ(OutputName(names, TSaveFormat::Png), kStem + L"48.png");
    EXPECT_EQ(OutputName(names, TSaveFormat::Tiff), kStem + L"48.tif");
  }
}

TEST(DeriveBandNames, B08GivesFalseColourWritingToTheSameOutput) {
  const TBandNames names = DeriveBandNames(kStem + L"B08.jp2");
  EXPECT_TRUE(names.Started);
  EXPECT_EQ(names.BandToken, L"B08.jp2");
  EXPECT_EQ(names.Red, kStem + L"B08.jp2");
  EXPECT_EQ(names.Green, kStem + L"B04.jp2");
  EXPECT_EQ(names.Blue, kStem + L"B03.jp2");
  EXPECT_EQ(OutputName(names, TSaveFormat::Tiff), OutputName(DeriveBandNames(kStem + L"B02.jp2"), TSaveFormat::Tiff));
}

TEST(DeriveBandNames, LetterCaseOfTheSuffixIsIgnoredAndReplacedByTheCanonicalOne) {
  TBandNames names = DeriveBandNames(kStem + L"b03.JP2");
  EXPECT_TRUE(names.Started);
  EXPECT_EQ(names.Red, kStem + L"B04.jp2");
  EXPECT_EQ(names.Green, kStem + L"B03.jp2");
  EXPECT_EQ(names.Blue, kStem + L"B02.jp2");

  names = DeriveBandNames(kStem + L"b08.Jp2");
  EXPECT_EQ(names.BandToken, L"B08.jp2");
  EXPECT_EQ(names.Red, kStem + L"b08.Jp2");  // the given name, unchanged
  EXPECT_EQ(names.Green, kStem + L"B04.jp2");
  EXPECT_EQ(OutputName(names, TSaveFormat::Png), kStem + L"48.png");
}

TEST(DeriveBandNames, FoldersNamedLikeBandsStayAsTheyAre) {
  // Siblings and output come from the file-name part only: the bands are never read from, and
  // the composite never written into, a neighbouring folder named like another band.
  const std::wstring dir = L"/tiles/B03.jp2_x/B04.jp2.d/";
  TBandNames names = DeriveBandNames(dir + L"T33UUP_B02.jp2");
  EXPECT_TRUE(names.Started);
  EXPECT_EQ(names.Red, dir + L"T33UUP_B04.jp2");
  EXPECT_EQ(names.Green, dir + L"T33UUP_B03.jp2");
  EXPECT_EQ(names.Blue, dir + L"T33UUP_B02.jp2");
  EXPECT_EQ(OutputName(names, TSaveFormat::Tiff), dir + L"T33UUP_48.tif");

  names = DeriveBandNames(L"/B08.jp2/B02_10m.jp2/T_B08_10m.jp2");
  EXPECT_EQ(names.Blue, L"/B08.jp2/B02_10m.jp2/T_B03_10m.jp2");
  EXPECT_EQ(OutputName(names, TSaveFormat::Png), L"/B08.jp2/B02_10m.jp2/T_48_10m.png");
  // A folder alone is no band, however it is named.
  EXPECT_FALSE(DeriveBandNames(L"/tiles/T_B03.jp2/").Started);
}

TEST(DeriveBandNames, L2aNamesKeepTheirResolution) {
  const std::wstring stem = L"/S2.SAFE/GRANULE/L2A_T29UNU/IMG_DATA/R20m/T29UNU_20221005T115411_";
  for (const wchar_t* res : {L"10m", L"20m", L"60m"}) {
    SCOPED_TRACE(res);
    for (const wchar_t* band : {L"B02", L"B03", L"B04"}) {
      const TBandNames names = DeriveBandNames(stem + band + L"_" + res + L".jp2");
      EXPECT_TRUE(names.Started);
      EXPECT_EQ(names.Red, stem + L"B04_" + res + L".jp2");
      EXPECT_EQ(names.Green, stem + L"B03_" + res + L".jp2");
      EXPECT_EQ(names.Blue, stem + L"B02_" + res + L".jp2");
      EXPECT_EQ(OutputName(names, TSaveFormat::Tiff), stem + L"48_" + res + L".tif");
      EXPECT_EQ(OutputName(names, TSaveFormat::Png), stem + L"48_" + res + L".png");
    }
  }
  // False colour: B08 at 10 m, B8A at 20 m and 60 m, each with the true colour's output name.
  TBandNames names = DeriveBandNames(stem + L"B08_10m.jp2");
  EXPECT_TRUE(names.Started);
  EXPECT_EQ(names.Red, stem + L"B08_10m.jp2");
  EXPECT_EQ(names.Green, stem + L"B04_10m.jp2");
  EXPECT_EQ(names.Blue, stem + L"B03_10m.jp2");
  EXPECT_EQ(OutputName(names, TSaveFormat::Tiff), stem + L"48_10m.tif");
  for (const wchar_t* res : {L"20m", L"60m"}) {
    names = DeriveBandNames(stem + L"B8A_" + res + L".jp2");
    EXPECT_TRUE(names.Started) << res;
    EXPECT_EQ(names.Red, stem + L"B8A_" + res + L".jp2");
    EXPECT_EQ(names.Green, stem + L"B04_" + res + L".jp2");
    EXPECT_EQ(names.Blue, stem + L"B03_" + res + L".jp2");
    EXPECT_EQ(OutputName(names, TSaveFormat::Tiff), stem + L"48_" + res + L".tif");
  }
  // Bands that products do not hold at that resolution, and other layers.
  for (const wchar_t* name : {L"B08_20m.jp2", L"B08_60m.jp2", L"B8A_10m.jp2", L"TCI_10m.jp2", L"B05_20m.jp2",
                              L"B04_30m.jp2", L"B04_10m.j2k", L"B04_10.jp2"}) {
    EXPECT_FALSE(DeriveBandNames(stem + name).Started) << ToUtf8(name);
  }
}

TEST(DeriveBandNames, L2aLetterCaseAndTokensElsewhereInTheName) {
  // Any case in; the replacement's own case out; a dropped red band keeps its spelling.
  TBandNames names = DeriveBandNames(L"/d/t29unu_b03_20M.JP2");
  EXPECT_TRUE(names.Started);
  EXPECT_EQ(names.Red, L"/d/t29unu_B04_20m.jp2");
  EXPECT_EQ(names.Blue, L"/d/t29unu_B02_20m.jp2");
  EXPECT_EQ(OutputName(names, TSaveFormat::Tiff), L"/d/t29unu_48_20m.tif");
  names = DeriveBandNames(L"/d/t_b04_60m.Jp2");
  EXPECT_EQ(names.Red, L"/d/t_b04_60m.Jp2");
  EXPECT_EQ(OutputName(names, TSaveFormat::Tiff), L"/d/t_48_60m.tif");
  names = DeriveBandNames(L"/d/t_b8a_60M.jp2");
  EXPECT_EQ(names.Green, L"/d/t_B04_60m.jp2");

  // Only the band that ends the name counts; earlier tokens are part of the stem.
  names = DeriveBandNames(L"/d/B04_10m.jp2_B02_10m_B03_60m.jp2");
  EXPECT_EQ(names.Red, L"/d/B04_10m.jp2_B02_10m_B04_60m.jp2");
  EXPECT_EQ(names.Green, L"/d/B04_10m.jp2_B02_10m_B03_60m.jp2");
  EXPECT_EQ(OutputName(names, TSaveFormat::Tiff), L"/d/B04_10m.jp2_B02_10m_48_60m.tif");
  // An L1C token before an L2A ending does not turn the name into L1C.
  names = DeriveBandNames(L"/d/x_B08.jp2_B02_20m.jp2");
  EXPECT_EQ(names.BandToken, L"B04_20m.jp2");
  EXPECT_EQ(names.Red, L"/d/x_B08.jp2_B04_20m.jp2");
  // Not at the end: the L1C rule as ever.
  names = DeriveBandNames(L"/d/T_B03_10m.jp2.bak_B02.jp2");
  EXPECT_EQ(names.BandToken, L"B04.jp2");
  EXPECT_EQ(names.Red, L"/d/T_B03_10m.jp2.bak_B04.jp2");
}

TEST(DeriveBandNames, NamesWithoutABandSuffixDoNotStart) {
  for (const wchar_t* name : {L"/data/T33UUP_B05.jp2", L"/data/T33UUP_B04.j2k", L"/data/B04jp2", L"/data/TCI.jp2",
                              L"B0.jp2", L""}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(DeriveBandNames(name).Started);
  }
  EXPECT_TRUE(DeriveBandNames(L"B02.jp2").Started);  // the bare suffix is enough
}

TEST(ReplaceFirstNoCase, MatchesAsciiLettersInEitherCaseOnly) {
  EXPECT_EQ(ReplaceFirstNoCase(L"aB02.JP2b02.jp2", L"b02.jp2", L"X"), L"aXb02.jp2");
  EXPECT_EQ(ReplaceFirstNoCase(L"abc", L"abcd", L"X"), L"abc");
  EXPECT_EQ(ReplaceFirstNoCase(L"abc", L"", L"X"), L"abc");
  EXPECT_EQ(ReplaceFirstNoCase(L"\u00e4B02.jp2", L"b02.JP2", L"B04.jp2"), L"\u00e4B04.jp2");
}

TEST(FileNamePart, FollowsTheLastDelimiter) {
  EXPECT_EQ(FileNamePart(L"/a/b/T_B03.jp2"), L"T_B03.jp2");
  EXPECT_EQ(FileNamePart(L"T_B03.jp2"), L"T_B03.jp2");
  EXPECT_EQ(FileNamePart(L"/a/b/"), L"");
#if defined(_WIN32)
  EXPECT_EQ(FileNamePart(L"C:\\tiles\\x/T_B03.jp2"), L"T_B03.jp2");
  EXPECT_EQ(FileNamePart(L"C:T_B03.jp2"), L"T_B03.jp2");
#endif
}

TEST(FormatTimingText, ThreeSegmentsWithTheirBlanksAndOneDecimal) {
  EXPECT_EQ(FormatTimingText(25.04, 0.0, 8.66, L"."), L"\"JP2:\"   25.0   \"PNG:\"   0.0   \"TIFF:\"  8.7");
  EXPECT_EQ(FormatTimingText(1234.56, 16.0, 0.0, L","), L"\"JP2:\"   1234,6   \"PNG:\"   16,0   \"TIFF:\"  0,0");
  EXPECT_EQ(FormatTimingText(0.0, 0.0, 0.0, L"\u066b"), L"\"JP2:\"   0\u066b0   \"PNG:\"   0\u066b0   \"TIFF:\"  0\u066b0");
#if !defined(_WIN32)
  EXPECT_EQ(FormatTimingText(2.25, 0.0, 0.0), L"\"JP2:\"   2.2   \"PNG:\"   0.0   \"TIFF:\"  0.0");
#endif
}

TEST(TextCodec, RoundTripsTextAndStrayBytes) {
  const std::wstring text = L"B\u00e4nder \u6e2c\u8a66 \U0001F6F0.jp2";
  EXPECT_EQ(ToUtf8(text), "B\xc3\xa4nder \xe6\xb8\xac\xe8\xa9\xa6 \xf0\x9f\x9b\xb0.jp2");
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  // Native file names may hold any bytes: overlong forms, lone continuations, cut sequences.
  for (const std::string& bytes : {std::string("a\xff\xfe" "b"), std::string("\xc0\xaf"), std::string("x\xe6\xb8"),
                                  std::string("\xed\xa0\x80"), std::string("\x80")}) {
    EXPECT_EQ(ToUtf8(FromUtf8(bytes)), bytes);
  }
}
}  // namespace
