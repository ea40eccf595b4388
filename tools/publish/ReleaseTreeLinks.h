// A release tree with a link in it is refused: a link planted there would make the publisher read
// or write whatever it points at, on the machine that holds the signing key.
#pragma once

#include <string>

namespace qr::publish {

// False, with the first link found in `problem`, when `dir` or anything below it is a link.
bool RefuseLinks(const std::string& dir, std::string& problem);

}  // namespace qr::publish
