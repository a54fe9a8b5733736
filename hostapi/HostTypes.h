// Basic types of the host interface.
//
// Every width that crosses the boundary between host and plug-in is fixed
// here, so the same source is right on 32- and 64-bit, little- and big-endian
// targets. Handles are opaque pointers: the plug-in never looks inside them.
#pragma once

#include <cstddef>
#include <cstdint>

// Host error code: signed 32 bits, 0 for success. Most codes are four
// printable characters packed first-character-most-significant (see FourCC).
using ASErr = std::int32_t;
// A host boolean is one byte. Values other than 0 and 1 can arrive from a
// host; callers say which values they accept.
using ASBoolean = std::uint8_t;
using AIReal = float;
// Art type codes as the host's get-type operation reports them.
using AIArtType = std::int16_t;
// Character encoding passed through to the host's string operations.
using AICharacterEncoding = std::int32_t;

namespace ai {
using int16 = std::int16_t;
using int32 = std::int32_t;
using uint8 = std::uint8_t;
}  // namespace ai

// Packs four characters into a host code, the first in the most significant
// byte. Written as a function because multi-character literals have an
// implementation-defined value.
constexpr ASErr FourCC(const char (&s)[5]) {
    return static_cast<ASErr>((static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) << 24) |
                              (static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 16) |
                              (static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 8) |
                              static_cast<std::uint32_t>(static_cast<unsigned char>(s[3])));
}
static_assert(FourCC("STOP") == 0x53544F50, "first character is the most significant byte");

constexpr ASErr kNoErr = 0;
// The user cancelled; never reported to the user.
constexpr ASErr kCanceledErr = FourCC("STOP");
// A failure the host has already explained to the user; never reported again.
constexpr ASErr kAlreadyReportedErr = FourCC("S!Fd");

// Codes the host returns for its own failures.
constexpr ASErr kBadParameterErr = FourCC("PARM");      // null, unknown or stale handle or argument
constexpr ASErr kSuiteNotFoundErr = FourCC("SUIT");     // no suite of that name and version
constexpr ASErr kSuiteNotHeldErr = FourCC("HELD");      // release of a suite that is not held
constexpr ASErr kOutOfMemoryErr = FourCC("MEM!");       // allocation refused
constexpr ASErr kResourceNotFoundErr = FourCC("RSRC");  // string list, entry or dialog missing
constexpr ASErr kNotImplementedErr = FourCC("NIMP");    // operation the host does not serve
constexpr ASErr kTrapErr = FourCC("TRAP");              // call through a reserved or released slot

// Opaque host handles. The host owns every object behind them.
struct ArtObject;
using AIArtHandle = ArtObject*;
using AILayerHandle = struct _t_AILayerOpaque*;
using AIMenuItemHandle = struct _t_AIMenuItemOpaque*;
using AIMenuGroup = struct _t_AIMenuGroupOpaque*;
using AIMdMemoryHandle = void*;
using SPPluginRef = struct SPPlugin*;
using ADMDialogRef = struct _Opaque_ADMDialog*;
using ADMItemRef = struct _Opaque_ADMItem*;
using ADMNotifierRef = struct _Opaque_ADMNotifier*;
using ADMUserData = void*;
using AIUnicodeStringHandle = struct _t_AIUnicodeStringOpaque*;

// Every suite is a struct of function pointers; a slot the interface does not
// use is declared with this type so that positions cannot drift.
using SPReservedProc = void (*)();
constexpr std::size_t kSuiteSlot = sizeof(SPReservedProc);

// Position of a member in a suite table, in slots.
#define HOSTAPI_SLOT(Suite, member) (offsetof(Suite, member) / kSuiteSlot)
#define HOSTAPI_PIN(Suite, member, position)                                          \
    static_assert(offsetof(Suite, member) % kSuiteSlot == 0 &&                        \
                      HOSTAPI_SLOT(Suite, member) == (position),                      \
                  #Suite "::" #member " must sit at position " #position)
