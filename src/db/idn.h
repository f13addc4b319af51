#ifndef VERSTALLY_DB_IDN_H
#define VERSTALLY_DB_IDN_H

// International domain names (IDNA 2003, no flags): UTF-8 names to their
// ASCII-compatible encoding and back. Running out of memory in the
// conversion ends the process with "Allocation failed" in every routine.

/// Result code of the most recent failed conversion; written only on
/// failure, so meaningful only right after one.
extern int idn_last_error;

/// Text for a conversion result code; "Unknown error" for codes it does
/// not know.
const char* idn_error_text(int code);

/// ASCII form of `name`, to be released with free; null on failure, with
/// the code in idn_last_error and nothing printed.
char* idn_toascii(const char* name);

/// As idn_toascii, but a failed conversion ends the process with status 1
/// and "idn_toascii_safe(<name>) failed: <text>".
char* idn_toascii_safe(const char* name);

/// `url` (or a bare host name) in ASCII: its host part in its ASCII form;
/// scheme, user part, port, path and query pass through, with any byte
/// outside ASCII written as %XX. The scheme is recognised in any case; the
/// user part is everything up to the last '@' of the authority (before the
/// first '/', '?' or '#' after "//"). Points to a static buffer that the
/// next call overwrites. Null after a warning when the URL has no host,
/// the host does not convert (code in idn_last_error), or the result would
/// exceed 4095 characters.
const char* idn_url_toascii(const char* url);

/// UTF-8 form of the ASCII name `name`, to be released with free; null on
/// failure, with the code in idn_last_error and nothing printed.
char* idn_tounicode(const char* name);

#endif
