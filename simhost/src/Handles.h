// Handles the host gives out are tagged indices, not addresses: the low four
// bits name the kind of object, the rest its index. A handle of the wrong
// kind, one never given out, or a stale one is recognised without ever being
// dereferenced, so a plug-in's mistake is reported, not a host crash.
#pragma once

#include <cstdint>
#include <optional>

namespace simhost {

enum class HandleKind : std::uintptr_t {
    kArt = 1,
    kLayer = 2,
    kMenuItem = 3,
    kMenuGroup = 4,
    kDialog = 5,
    kDialogItem = 6,
    kNotifier = 7,
    kPlugin = 8,
};

constexpr unsigned kHandleTagBits = 4;
constexpr std::uintptr_t kHandleTagMask = (1u << kHandleTagBits) - 1;
constexpr std::uint32_t kMaxHandleIndex = (~std::uint32_t(0)) >> kHandleTagBits;

template <typename Handle>
Handle makeHandle(HandleKind kind, std::uint32_t index) {
    return reinterpret_cast<Handle>((static_cast<std::uintptr_t>(index) << kHandleTagBits) |
                                    static_cast<std::uintptr_t>(kind));
}

// The index a handle carries when it is of `kind`; none otherwise.
template <typename Handle>
std::optional<std::uint32_t> handleIndex(HandleKind kind, Handle handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if ((value & kHandleTagMask) != static_cast<std::uintptr_t>(kind)) return std::nullopt;
    return static_cast<std::uint32_t>(value >> kHandleTagBits);
}

}  // namespace simhost
