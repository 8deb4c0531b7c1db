// Base64 (RFC 4648, standard alphabet, with padding) for keys and signatures kept as text.
#pragma once
#include <string>
#include <vector>

/// The base64 text of `data`.
std::string EncodeBase64(const std::vector<unsigned char>& data);

/// Decodes strict base64: the standard alphabet, length a multiple of four, "=" only as the
/// final padding, nothing else (no white space, no line breaks). False for anything else.
bool DecodeBase64(const std::string& text, std::vector<unsigned char>& data);
