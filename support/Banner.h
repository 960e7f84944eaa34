// The start-up banner for a person who starts a program by hand from a console.
#pragma once

// The rights line both programs show.
extern const char* const kRightsLine;

// Writes the banner to standard error when that is a console; writes nothing otherwise.
void ShowBanner(const char* product, const char* version, const char* licensor,
                const char* rights_line, bool pre_release);
