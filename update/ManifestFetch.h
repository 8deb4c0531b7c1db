// One HTTP GET of the update manifest, its body taken as text.
#pragma once
#include <windows.h>

#include <string>

class CUpdateEngine;

/// Fetches `url` into `body`: the response body byte for byte (its signature covers those
/// bytes; JoinBodyLines makes the text the XML component reads), whatever the HTTP status. False
/// on an internet error, a body larger than any manifest or a transfer still unfinished after the
/// engine's manifest deadline, each logged as "<number>  <message>".
bool FetchManifest(CUpdateEngine& engine, std::string url, std::string& body);

/// `body` without its line ends: each "\n", a "\r" before it, and a "\r" ending the body.
std::string JoinBodyLines(const std::string& body);
