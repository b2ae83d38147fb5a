#include "module_base/PLDatabasePassword.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "module_base/PLError.h"
#include "module_base/PLHex.h"
#include "module_base/PLSEHException.h"
#include "platform/Crypto.h"
#include "platform/ProtectedFile.h"

namespace {

constexpr const char* kGroup = "Core Services";
constexpr const char* kClass = "Utility Functions";
constexpr LONG kUsers = 9;
constexpr std::size_t kMaxFileSize = 64 * 1024;

constexpr char kKeyMaterial[] = "D74F7648-949B-4686-BDE7-BCD3D90CFAF3";
constexpr std::array<uint8_t, kd::platform::kCipherBlockSize> kIv = {2, 3, 5, 7, 11, 13, 17, 19};

const kd::platform::SymmetricKey& PasswordKey() {
    static const kd::platform::SymmetricKey key(kKeyMaterial, sizeof kKeyMaterial - 1, kIv);
    return key;
}

// Clears what held a secret before its memory is given back.
template <class Container>
void Wipe(Container& c) {
    if (!c.empty()) explicit_bzero(c.data(), c.size() * sizeof(c[0]));
}

std::string_view TrimmedLine(std::string_view line) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

// The sealed record of `user` from the file's text; throws when the text is malformed or holds
// no record for the user.
std::u16string FindRecord(std::string_view text, LONG user, const std::string& path) {
    std::u16string found;
    bool seen[kUsers + 1] = {};
    int32_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = TrimmedLine(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#') continue;
        const bool wellFormed =
            line.size() > 2 && line[0] >= '1' && line[0] <= '0' + kUsers && line[1] == '=' && !seen[line[0] - '0'];
        if (!wellFormed)
            PL_THROW_ERROR_FORMAT(E_FAIL, 1, "The database password file '%hs' is malformed at line %d.", path.c_str(),
                                  lineNumber);
        seen[line[0] - '0'] = true;
        if (line[0] - '0' == user) found.assign(line.begin() + 2, line.end());
    }
    if (found.empty())
        PL_THROW_ERROR_FORMAT(E_FAIL, 1, "The database password file '%hs' holds no password for user %d.",
                              path.c_str(), user);
    return found;
}

// The password of `user` from the file, or a recorded failure.
HRESULT ReadDatabasePassword(LONG user, std::u16string& password) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) {
        const std::string path = PLDatabasePasswordFilePath();
        std::string text;
        int error = 0;
        uint32_t owner = 0, mode = 0;
        const auto status = kd::platform::ReadProtectedFile(path, kMaxFileSize, text, &error, &owner, &mode);
        if (status == kd::platform::ProtectedFileStatus::WrongOwner)
            PL_THROW_ERROR_FORMAT(E_FAIL, 1,
                                  "The database password file '%hs' belongs to user %u: it must belong to its user "
                                  "or to root.",
                                  path.c_str(), owner);
        if (status == kd::platform::ProtectedFileStatus::OpenToOthers)
            PL_THROW_ERROR_FORMAT(E_FAIL, 1,
                                  "The database password file '%hs' has mode %04o: it must give no access to its "
                                  "group or others.",
                                  path.c_str(), mode);
        if (status != kd::platform::ProtectedFileStatus::Read)
            PL_THROW_ERROR_FORMAT(E_FAIL, 1, "Cannot read the database password file '%hs' (error %d).", path.c_str(),
                                  error);
        std::u16string record;
        try {
            record = FindRecord(text, user, path);
        } catch (...) {
            Wipe(text);
            throw;
        }
        Wipe(text);
        std::vector<uint8_t> sealed, plain;
        const bool unsealed = PLBytesFromHex(record, sealed) &&
                              PasswordKey().Decrypt(sealed.data(), sealed.size(), plain) &&
                              plain.size() >= kd::platform::kSha1Size && plain.size() % 2 == 0;
        Wipe(record);
        const std::size_t textBytes = unsealed ? plain.size() - kd::platform::kSha1Size : 0;
        const bool intact = unsealed && std::memcmp(kd::platform::Sha1(plain.data(), textBytes).data(),
                                                    plain.data() + textBytes, kd::platform::kSha1Size) == 0;
        if (!intact) {
            Wipe(plain);
            PL_THROW_ERROR_FORMAT(E_FAIL, 1, "The stored password of user %d does not unseal.", user);
        }
        password.resize(textBytes / 2);
        for (std::size_t i = 0; i < password.size(); ++i)
            password[i] = static_cast<char16_t>(plain[2 * i] | plain[2 * i + 1] << 8);
        Wipe(plain);
    });
}

}  // namespace

std::string PLDatabasePasswordFilePath() {
    const char* path = std::getenv("KDTRACE_DATABASE_PASSWORDS");
    if (path != nullptr && *path != 0) return path;
    return "/etc/kdtrace/database-passwords";
}

PLString PLSealDatabasePassword(std::u16string_view password) {
    std::vector<uint8_t> bytes(password.size() * 2);
    for (std::size_t i = 0; i < password.size(); ++i) {
        bytes[2 * i] = static_cast<uint8_t>(password[i]);
        bytes[2 * i + 1] = static_cast<uint8_t>(password[i] >> 8);
    }
    const kd::platform::Sha1Digest check = kd::platform::Sha1(bytes.data(), bytes.size());
    bytes.insert(bytes.end(), check.begin(), check.end());
    const std::vector<uint8_t> sealed = PasswordKey().Encrypt(bytes.data(), bytes.size());
    Wipe(bytes);
    return PLHexFromBytes(sealed.data(), sealed.size());
}

HRESULT GetDatabasePassword(LONG user, WCHAR* buffer, LONG size) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        PL_THROW_IF_FAILED(buffer == nullptr ? E_POINTER : S_OK);
        PL_THROW_IF_FAILED(size < 1 ? E_INVALIDARG : S_OK);
        PL_THROW_ERROR(user < 1 || user > kUsers ? E_FAIL : S_OK, "Invalid User", 1);
        std::u16string password;
        PL_THROW_ERROR(ReadDatabasePassword(user, password), "Encryption Error", 0);
        hr = PLCopyTextToBuffer(buffer, size, password.data(), static_cast<int32_t>(password.size()),
                                PLTruncation::Silent);
        Wipe(password);
    });
}
