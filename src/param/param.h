// param/param.h - what other subsystems may call of the parameter lists:
// the operations behind the exports without their variable arguments, and
// deep copies of lists and single parameters.
//
// Internal: included by src/ and tests only. None of these take a lock; the
// owner of a list serialises access to it. `wide` selects 16-bit strings
// (names, additional texts and string values); everything else is the same
// for both widths.
#ifndef ZERA_PARAM_PARAM_H
#define ZERA_PARAM_PARAM_H

#include <cstdint>

#include "common/common.h"

namespace zera {

// Records in a new list and the step by which a list grows and shrinks.
constexpr uint32_t kParamListStep = 32;

// Allocates an empty list (room for kParamListStep records) into *list.
// False with *list null when memory runs out; stores no code.
bool CreateParamList(Param **list);

// Appends a parameter exactly as ZERA_boAddParamA/W; `value` carries the
// string pointer (value.pv, narrow or wide, copied), the uint32_t or the
// double. Stores 1028 (null name or pointers, name block) or 1026 (array,
// string value) on failure; the list and *count are then as they were,
// except that a failed string copy leaves the array enlarged and the first
// record's change bits set. `cursor` may be null.
ZERA_TEST_VISIBLE bool AddParam(bool wide, bool grow, uint8_t options, Param **list, uint32_t *count,
              ParamValue ***cursor, uint32_t type, uint32_t access, uint8_t attributes,
              uint8_t tag, bool twoStrings, const void *name, ParamData value);

// Stores a new value record in the slot **cursor and advances *cursor to its
// pstNext, exactly as ZERA_boAddValueA/W. String values (from.pv, to.pv) are
// copied; a null string stays null. False with 1026 (slot null, nothing kept)
// when memory runs out, 1028 for a null cursor.
ZERA_TEST_VISIBLE bool AddValue(bool wide, ParamValue ***cursor, uint32_t type, uint32_t tag, uint32_t kind,
              ParamData from, ParamData to);

// Frees the parameter's value chain; pstValues ends null. Width-independent.
void DeleteValueChain(Param *param);

// Removes a parameter as ZERA_boDeleteParamA/W (see zera/param.h).
bool DeleteParam(bool wide, bool shrink, Param **list, const void *name);

// Frees a list and everything it owns; null is ignored. Width-independent.
void DeleteParamList(Param *list);

// The first record named `name` (or the list for a null name); null with
// 1028 when there is none or the list is null.
Param *FindParam(bool wide, Param *list, const void *name);

// The number of parameters before the terminator (a null list has none).
ZERA_TEST_VISIBLE uint32_t CountParams(const Param *list);

// A deep copy of the whole list into *copy: every field as it stands (change
// marks included), name blocks with their additional texts, string values
// and value chains. On failure *copy is null, nothing is leaked and 1026 is
// stored. A null source gives false with 1028.
ZERA_TEST_VISIBLE bool CopyParamList(bool wide, const Param *source, Param **copy);

// A new list holding one parameter: a deep copy of `source` (name block,
// value, value chain, every field as it stands), then the terminator. On
// failure *copy is null, nothing is leaked and 1026 is stored; 1028 for a
// null source or one without a name.
ZERA_TEST_VISIBLE bool CopyParamToNewList(bool wide, const Param *source, Param **copy);

// Frees what one record owns (name block, string value, value chain) and
// clears pName, uValue and pstValues. A record without a name owns nothing
// (it is a terminator) and is left as it is.
ZERA_TEST_VISIBLE void ReleaseParam(Param *param);

}  // namespace zera

#endif  // ZERA_PARAM_PARAM_H
