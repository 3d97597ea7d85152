// Record helpers and names shared by the certificate, CRL and request
// encoders and decoders.
#pragma once

#include "ry_asn2.h"

namespace rycert2 {

// Writes the Name of the chain from `first` (one RDN per node):
//   Name ::= SEQUENCE OF RelativeDistinguishedName
// Node faults are logged and returned; writer faults stay in `w`.
Status writeName(DerWriter &w, const RyNameNode *first);

// Decodes the Name element `name` into nodes appended at `*tail`, which
// then points at the last node's `next`. Nodes already linked stay linked
// on failure, for the caller to release.
Status readName(const Tlv &name, RyNameNode **&tail);

}  // namespace rycert2
