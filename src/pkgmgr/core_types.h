#pragma once

#include <QStringView>

#include <array>
#include <cstdint>

namespace orv {

// The IDE versions the package manager builds for; the enumerator names
// are the package manager's own texts.
enum class TIDEName : std::uint8_t {
  lazarus,
  delphi6,
  delphi7,
  delphi2005,
  delphi2006,
  delphi2007,
  delphi2009,
  delphi2010,
  delphixe,
  delphixe2,
  delphixe3,
  delphixe4,
  delphixe5,
  delphixe6,
  delphixe7,
  delphixe8,
  delphiseattle,
  delphiberlin,
  delphitokyo,
  delphirio,
  delphisydney,
  delphi11,
  delphi12
};

enum class TPlatform : std::uint8_t {
  win32intel,
  win64intel,
  macos32intel,
  macos64intel,
  macos64arm,
  iossimulator,
  iosdevice32,
  iosdevice64,
  android32,
  android64,
  linux64,
  iossimulator64arm,
  win64Xintel
};

// Stands for an identifier the package manager reported that this program
// does not know; it lies outside both enumerations.
inline constexpr std::uint8_t UnknownIdentifier = 255;
inline constexpr TIDEName UnknownIDEName = static_cast<TIDEName>(UnknownIdentifier);
inline constexpr TPlatform UnknownPlatform = static_cast<TPlatform>(UnknownIdentifier);

// The package manager's texts, indexed by the enumerations.
inline constexpr std::array<QStringView, 23> IDENames = {
    u"lazarus",     u"delphi6",    u"delphi7",      u"delphi2005", u"delphi2006",    u"delphi2007",
    u"delphi2009",  u"delphi2010", u"delphixe",     u"delphixe2",  u"delphixe3",     u"delphixe4",
    u"delphixe5",   u"delphixe6",  u"delphixe7",    u"delphixe8",  u"delphiseattle", u"delphiberlin",
    u"delphitokyo", u"delphirio",  u"delphisydney", u"delphi11",   u"delphi12"};

inline constexpr std::array<QStringView, 13> PlatformNames = {
    u"win32intel",   u"win64intel",        u"macos32intel", u"macos64intel", u"macos64arm",
    u"iossimulator", u"iosdevice32",       u"iosdevice64",  u"android32",    u"android64",
    u"linux64",      u"iossimulator64arm", u"win64xintel"};

// Case-sensitive lookups of the package manager's texts.
bool TryStringToIDEName(QStringView text, TIDEName& value);
// UnknownIDEName (255) when the text is not in the table.
TIDEName StringToIDEName(QStringView text);
// UnknownPlatform (255) when the text is not in the table.
TPlatform StringToPlatform(QStringView text);

}  // namespace orv
