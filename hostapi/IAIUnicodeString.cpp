#include "IAIUnicodeString.h"

#include <cstring>

namespace ai {

Error::~Error() = default;

void check_result(ASErr code) {
    if (code != kNoErr) throw Error(code);
}

UnicodeString::UnicodeString(const char* text, AICharacterEncoding encoding) : fString(nullptr) {
    if (text == nullptr) return;
    if (sAIUnicodeString == nullptr) throw Error(kSuiteNotFoundErr);
    check_result(sAIUnicodeString->Initialize(this, text,
                                              static_cast<ai::int32>(std::strlen(text)), encoding));
}

UnicodeString& UnicodeString::operator=(const UnicodeString& other) {
    if (sAIUnicodeString == nullptr) throw Error(kSuiteNotFoundErr);
    check_result(sAIUnicodeString->Copy(this, &other));
    return *this;
}

UnicodeString::~UnicodeString() {
    // Without the suite the host string cannot be given back; leaking it is
    // better than calling through a null table.
    if (fString != nullptr && sAIUnicodeString != nullptr) sAIUnicodeString->Destroy(this);
}

}  // namespace ai
