// Value types over the host's strings and error codes: ai::UnicodeString, a
// host-backed string; ai::Error, the exception that carries a host code; and
// the Unicode form of the menu-item record.
#pragma once

#include <exception>

#include "AISuites.h"

// The plug-in's pointer to the held "AI Unicode String Suite"; null while the
// suite is not held. Every host call of ai::UnicodeString goes through it.
extern const AIUnicodeStringSuite* sAIUnicodeString;

namespace ai {

// A host error code raised as an exception. Only the string wrappers throw
// it; the plug-in's entry point turns it back into its code.
class Error : public std::exception {
public:
    explicit Error(ASErr code) noexcept : fErr(code) {}
    ~Error() override;
    ASErr code() const noexcept { return fErr; }

private:
    ASErr fErr;
};

// Throws ai::Error(code) when code is not 0.
void check_result(ASErr code);

// Owns at most one host string. The host's operations take the address of
// the object itself; its one field is the host's handle, null while empty.
class UnicodeString {
public:
    UnicodeString() noexcept : fString(nullptr) {}
    // Makes a host string from a C string; a null pointer makes an empty
    // object without calling the host. Throws ai::Error when the host fails.
    explicit UnicodeString(const char* text, AICharacterEncoding encoding = 0);
    // Copies the other string's text through the host. Throws ai::Error when
    // the host fails; this object then keeps what it held.
    UnicodeString& operator=(const UnicodeString& other);
    ~UnicodeString();

    // Strings are assigned, never copied by construction: a copy would need a
    // host call that can fail, which a constructor cannot report cleanly.
    UnicodeString(const UnicodeString&) = delete;

    AIUnicodeStringHandle handle() const noexcept { return fString; }
    // For the host: the handle field its operations read and write.
    static AIUnicodeStringHandle* HandleSlot(UnicodeString* s) noexcept { return &s->fString; }
    static AIUnicodeStringHandle HandleOf(const UnicodeString* s) noexcept { return s->fString; }

private:
    AIUnicodeStringHandle fString;
};

}  // namespace ai

static_assert(sizeof(ai::UnicodeString) == sizeof(void*), "one handle field");

// Menu item record of "AI Menu Suite" 1008: group name and a Unicode text.
struct AIPlatformAddMenuItemDataUS {
    const char* groupName;
    ai::UnicodeString itemText;
    // Leaves the text empty (no host call); the caller sets the group name.
    AIPlatformAddMenuItemDataUS() noexcept : groupName(nullptr) {}
};
static_assert(offsetof(AIPlatformAddMenuItemDataUS, itemText) == sizeof(void*), "text after name");
