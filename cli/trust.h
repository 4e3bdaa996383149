// Which keys this machine trusts to sign patches, and the signature check that runs before a
// patch is read for anything else.
#pragma once

#include "cmdline.h"

#include <string>
#include <vector>

// The public key files that --trusted-key names, then every "*.pub" in the system's
// trusted-keys directory ($OSTMERE_SYSCONFDIR, default /etc/ostmere) and in the user's
// ($XDG_CONFIG_HOME/ostmere, default ~/.config/ostmere), each directory in name order.
std::vector<std::u16string> trustedKeyFiles(const Invocation& args);

// Checks PATCH's signature against the trusted keys; raises when the patch must be refused.
// With no trusted key, notes on stderr (unless --quiet) that the patch was not authenticated
// when noteUnauthenticated is set.
ostmere::SignatureStatus checkTrust(const Invocation& args, ConsoleSink& sink,
                                    const std::string& patch, bool noteUnauthenticated);
