#pragma once

#include <QString>

/// The system's text for the error number `error`, in English whatever the user's
/// language: the log reads the same in every language, and a reason never mixes two.
QString systemErrorText(int error);
/// The resolver's text for getaddrinfo()'s `failed`, in English likewise (POSIX only).
QString resolverErrorText(int failed);
/// Windows' text for GetLastError()'s `code`, in English where Windows has its English
/// messages, else in the user's language (Windows only).
QString windowsErrorText(unsigned long code);
