// Authentic packages, an opt-in beyond the CRCs: a build that names an
// Ed25519 public key installs only packages whose detached signature
// "<package>.sig" (64 bytes, Ed25519ph over the whole file) verifies.
#pragma once

#include <string>

inline constexpr const char* kSignatureSuffix = ".sig";

// The key packages must be signed with, as 64 hex digits; "" when the build
// sets none (then no signature is fetched or checked).
const std::string& PackageKey();
// Replaces the build's key (tests).
void SetPackageKeyForTesting(const std::string& hexKey);

// True when the file's signature verifies with the key; false when the
// signature file is missing, malformed or wrong, or the key is malformed.
bool VerifyPackageSignature(const std::string& packagePath, const std::string& hexKey);

// True without a key; else VerifyPackageSignature with it, noting a failure
// in the run log.
bool VerifyPackage(const std::string& packagePath);

// The 32-byte public key of its 64 hex digits; false when malformed.
bool DecodePackageKey(const std::string& hexKey, unsigned char (&key)[32]);

// Writes "<package>.sig" signed with the 64-byte secret key (the tools'
// signing program), and the signed block list "<package>.blocks" that lets
// it be fetched by blocks (none for a package whose header the updater
// cannot read: a stale one is removed). False when the package cannot be
// read or a file written.
bool SignPackage(const std::string& packagePath, const unsigned char (&secretKey)[64]);
// The same with the secret key read from the key file the signing program
// made; false also when that file cannot be read or has the wrong size.
bool SignPackageWithKeyFile(const std::string& packagePath, const std::string& keyPath);
