// The address text parser of the socket component set. A peer's address is free text: a host
// name or dotted address, optionally with a port, and in general any URL-like text with scheme,
// user, password, path, query and fragment. ParseURL splits it into the fields of TIpAddrRec
// with a character-driven machine; the socket layer reads Authority and Port of the result.
#pragma once

#include "toolkit/SysUtils.h"

struct TIpAddrRec {
  String Scheme;           // the word before the first ":" (no "." in it, more than one character)
  String UserName;         // the part before "@", or before the ":" that precedes the password
  String Password;         // between that ":" and "@"
  String Authority;        // host name or dotted address
  String Port;             // port digits, as text
  String Path;             // "/" when the text has none
  String Fragment;         // after "#"
  String Query;            // after "?" or "&"
  char QueryDelim = '\0';  // the character that opened the query; NUL when there is none
};

// Fills Rec from Text. The eight strings are cleared first; QueryDelim is left as the caller
// set it (callers start from a zeroed record) and changes only when a query begins. Returns
// true when the text ended in an accepting state (a drive path, a host, a port, a path, a
// fragment, a query or trailing blanks); a text that ends in a bare word, a scheme, user
// information, or that holds a character the machine cannot place, gives false, with the
// fields read up to that point.
bool ParseURL(const String& Text, TIpAddrRec& Rec);
