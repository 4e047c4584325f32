// ReplyFormatter: the text an operator reads for each record that comes back
// over the status link: the base-information table, common-command replies
// and, for records the console does not know, kind and hex. Pure: returns
// lines (without newline), prints nothing. Bytes from the wire are shown
// with control and non-ASCII characters escaped, so a reply cannot move the
// terminal's cursor or colour.
#pragma once

#include <string>
#include <vector>

#include "ShareDefine/PackHead.h"
#include "tools/varnstatus/BaseInfoReply.h"
#include "tools/varnstatus/StatusRecords.h"

namespace varnstatus {

// Header, column titles, one row per entry (numbers first, in reply order),
// and a "truncated reply" line when the reply was cut off.
std::vector<std::string> FormatBaseInfo(const BaseInfoReply& reply);

// One table row: id, name, group, item index, server type, value.
std::string FormatInfoRow(const InfoKey& key, const std::string& value);
std::string FormatNumericValue(const NumericEntry& entry);

// Name, data length and data (as text when it is text, else hex), parameter.
std::vector<std::string> FormatCommandReply(const CommandReply& reply);

// "record 7/2 (5 bytes, head ctx=0 idx=0 pack=1 dest=13 src=13): 07 02 .."
std::string FormatOtherRecord(const MMORPG::tagPackHead& head, const std::string& record);

// Printable ASCII kept, \n \r \t and other bytes as escapes; inside
// quotes also \\ and \" (a free-standing line keeps Windows paths as they are).
std::string EscapeText(const std::string& bytes, bool quoted = true);
// True when the bytes read as text lines: no control characters but tabs and
// line ends (8-bit bytes count as text; file names may be in a local code page).
bool LooksLikeText(const std::string& bytes);

}  // namespace varnstatus
