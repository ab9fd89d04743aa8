// The publisher's public key an installer executable is built with.
#pragma once

namespace installer {

// PEM text of the ECDSA P-256 public key (INSTALLER_PUBLISHER_KEY), or "" when the
// executable has none, and then package descriptions are taken unsigned. Defined in a
// source generated at configure time and linked into each executable, so that one build
// tree can link the installer both with and without a key.
extern const char kPublisherKeyPem[];

}  // namespace installer
