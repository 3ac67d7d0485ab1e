// The two forms the console program's output and its record take for other programs, JSON Lines
// and CSV: strings that every parser reads, whatever bytes a box or an operator put in them.
#pragma once

#include <string>

// The text as valid UTF-8: every byte that is not part of a well-formed sequence becomes U+FFFD.
std::string ValidUtf8(const std::string& text);
// A JSON string, quotes included, of the text made valid UTF-8.
std::string JsonString(const std::string& text);
// A CSV field (RFC 4180) of the text made valid UTF-8: quoted where it holds a comma, a quote or
// a line end.
std::string CsvField(const std::string& text);
// A number with three decimals and a point, never the locale's decimal comma (GTK sets the
// user's locale): as JSON, CSV and Prometheus's text format read numbers.
std::string ThreeDecimals(double value);
