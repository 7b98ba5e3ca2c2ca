// The user's keyring: recorder passwords kept by a Secret Service (GNOME Keyring, KWallet) on
// the session bus, one per recorder login (address, port, user).
//
// The calls are synchronous: each waits in a local event loop for the keyring's answer, at most
// kKeyringTimeoutMs (room for the service's own unlock prompt). Where no such service is on the
// session bus, or there is no session bus, they fail at once. Passwords are never logged.
// User-interface thread only.
#pragma once

#include <QString>

#include <optional>

namespace tavix {

inline constexpr int kKeyringTimeoutMs = 20000;

// Whether a keyring service is on the session bus, running or ready to be started by it.
bool KeyringAvailable();

// The password kept for `account`; nothing when there is none, or no keyring answered.
std::optional<QString> ReadKeyringPassword(const QString& account);

// Keeps `password` for `account`; false when no keyring took it.
bool WriteKeyringPassword(const QString& account, const QString& password);

}  // namespace tavix
