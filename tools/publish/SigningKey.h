// The operator's update key: making one, reading its files, signing a manifest with it.
#pragma once
#include <string>
#include <vector>

/// A new P-256 key pair as X‖Y‖d; false when the system cannot make one.
bool MakeKeyPair(std::vector<unsigned char>& keyPair);

/// Makes a new P-256 key pair and writes NAME.private (base64 of X‖Y‖d) and NAME.public (base64
/// of X‖Y, the text for KVO_UPDATE_PUBLIC_KEY). Refuses, writing nothing, when either file exists.
/// False with a one-line reason in `error`.
bool WriteNewKey(const std::string& name, std::string& error);

/// Reads a key file written by WriteNewKey: base64 of `size` bytes (64 for a public key, 96 for a
/// key pair), white space around it ignored. False with a one-line reason in `error`.
bool ReadKeyFile(const std::string& path, std::size_t size, std::vector<unsigned char>& material, std::string& error);

/// The signature comment for `document` made with `keyPair` (X‖Y‖d), ready to append to it.
/// False when the system cannot sign with that key.
bool SignManifest(const std::string& document, const std::vector<unsigned char>& keyPair, std::string& comment);
