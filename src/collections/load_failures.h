// How JSON and XML loading report a failure: one message record appended to
// the caller's message list, or, without one, an error on the thread's list.
#pragma once

#include <qn/core/string.h>

namespace qn {
class QNObjectCollection;
}

namespace qn::internal {

void reportJSONLoadFailure(const String& text, QNObjectCollection* messages);
// The same with the Id "FromXML Error".
void reportXMLLoadFailure(const String& text, QNObjectCollection* messages);

}  // namespace qn::internal
