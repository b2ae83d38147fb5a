// Database passwords by user number, read from a protected configuration file.
//
// The file is $KDTRACE_DATABASE_PASSWORDS, or /etc/kdtrace/database-passwords when that is unset
// or empty. It is read only when it belongs to the calling user or to root and gives its group
// and others no permission at all (mode 0600 or narrower). Each line is "N=HEX" for a user
// number N from 1 to 9, where HEX is the password in its sealed form (PLSealDatabasePassword);
// blank lines and lines that start with "#" are skipped. The library holds no password itself.
#ifndef KD_PLDATABASEPASSWORD_H
#define KD_PLDATABASEPASSWORD_H

#include <string>
#include <string_view>

#include <kdtrace/types.h>

#include "module_base/PLString.h"

// Copies the password of `user` (1 to 9) into `buffer` of `size` characters, cut to fit.
// E_FAIL "Invalid User" for another number; E_FAIL "Encryption Error" when the file cannot be
// read, is not protected, is malformed, holds no record for the user or the record does not
// unseal (the cause is recorded first). Records under "Core Services", "Utility Functions".
HRESULT GetDatabasePassword(LONG user, WCHAR* buffer, LONG size);

// The file GetDatabasePassword reads.
std::string PLDatabasePasswordFilePath();

// The sealed form of a password, as its record in the file holds it: the hex text of its
// UTF-16LE bytes followed by their SHA-1 digest, encrypted with the library's password key. The
// digest tells a damaged record from a password.
PLString PLSealDatabasePassword(std::u16string_view password);

#endif  // KD_PLDATABASEPASSWORD_H
