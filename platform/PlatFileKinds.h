// The public type declarations of the platform layer: a built-in table of
// "public." uniform type identifiers with their descriptions, filename
// extensions and parents, standing in for a system registry of types.
#pragma once

#include <string>
#include <vector>

namespace qelt::plat {

struct PublicKindDeclaration {
    std::string identifier;
    std::string description;
    std::vector<std::string> extensions;  // without the dot, preferred first
    std::vector<std::string> parents;     // the identifiers it conforms to
};

// The declaration of a public identifier; false when the table has none.
bool FindPublicKind(const std::string& identifier, PublicKindDeclaration& out);

// The identifier whose extensions hold `extension` (compared without regard
// to ASCII case); empty when none does.
std::string PublicKindForExtension(const std::string& extension);

// Whether `identifier` is `other` or conforms to it through its parents, at
// any depth. An identifier the table does not know conforms only to itself.
bool PublicKindConformsTo(const std::string& identifier, const std::string& other);

}  // namespace qelt::plat
