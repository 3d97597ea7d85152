// The one table of name components: attribute code, type OID, text label
// and string rule. Name encoding and decoding, the DN text forms and the
// certificate, CRL and request name setters all look components up here.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>

#include "rycert2.h"
#include "ry_oids.h"

namespace rycert2 {

// How a component's value is written when its record does not name a
// string type of its own (RFC 5280 appendix A upper bounds).
enum class StringRule : uint8_t {
  Directory,  // PrintableString when it fits, else UTF8String
  Email,      // IA5String when 7-bit, else UTF8String
};

struct NameComponent {
  uint32_t code;          // attribute code carried in RyNameNode.type.id
  oid::Octets oid;        // attribute type
  std::string_view key;   // key in DN strings ("CN"); "C=" etc. in the DN text
  int8_t textSlot;        // position in the DN text of a Name, -1 when not shown
  int8_t dnStringSlot;    // position among the ten DN string components
  StringRule rule;
};

// Sorted by code; the DN text order is C, O, OU, CN, E, S, L.
inline constexpr NameComponent kNameComponents[] = {
    {RY_DN_EMAIL, oid::kEmailAddress, "E", 4, 4, StringRule::Email},
    {RY_DN_COMMONNAME, oid::kCommonName, "CN", 3, 3, StringRule::Directory},
    {RY_DN_COUNTRY, oid::kCountryName, "C", 0, 0, StringRule::Directory},
    {RY_DN_LOCALITY, oid::kLocalityName, "L", 6, 6, StringRule::Directory},
    {RY_DN_STATEORPROVINCE, oid::kStateOrProvinceName, "S", 5, 5, StringRule::Directory},
    {RY_DN_ORGANIZATION, oid::kOrganizationName, "O", 1, 1, StringRule::Directory},
    {RY_DN_ORGUNIT, oid::kOrganizationalUnitName, "OU", 2, 2, StringRule::Directory},
    {RY_DN_POSTALADDRESS, oid::kPostalAddress, "PA", -1, 7, StringRule::Directory},
    {RY_DN_POSTALCODE, oid::kPostalCode, "PC", -1, 8, StringRule::Directory},
    {RY_DN_TELEPHONE, oid::kTelephoneNumber, "Phone", -1, 9, StringRule::Directory},
};

inline constexpr size_t kTextSlots = 7;
inline constexpr size_t kDnStringSlots = 10;

constexpr bool sortedByCode() {
  for (size_t i = 1; i < std::size(kNameComponents); ++i) {
    if (kNameComponents[i - 1].code >= kNameComponents[i].code) {
      return false;
    }
  }
  return true;
}
static_assert(sortedByCode());

inline const NameComponent *componentByCode(uint32_t code) {
  for (const auto &c : kNameComponents) {
    if (c.code == code) {
      return &c;
    }
  }
  return nullptr;
}

// Only the types recognised on decoding get a code; the postal and
// telephone types are written but decode as code 0.
inline const NameComponent *componentByOid(oid::Octets type) {
  for (const auto &c : kNameComponents) {
    if (c.textSlot >= 0 && oid::equal(c.oid, type)) {
      return &c;
    }
  }
  return nullptr;
}

// The component at a position of the DN text (0..6) or DN string (0..9).
inline const NameComponent &componentAtTextSlot(size_t slot) {
  return *std::find_if(std::begin(kNameComponents), std::end(kNameComponents),
                       [slot](const NameComponent &c) { return c.textSlot == int(slot); });
}
inline const NameComponent &componentAtDnStringSlot(size_t slot) {
  return *std::find_if(std::begin(kNameComponents), std::end(kNameComponents),
                       [slot](const NameComponent &c) { return c.dnStringSlot == int(slot); });
}

}  // namespace rycert2
