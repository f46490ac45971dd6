// What a redirect does to the request that got it: which answers are
// followed, which method and body go on, what stays behind when the next
// server is another one, and which redirects end the task instead.
//
// The rules are those browsers apply: 303 turns the request into a GET
// without its body, and so do 301 and 302 for a POST; 307 and 308 repeat the
// request as it was. Credentials belong to the server they were given for,
// and a secure request never continues in the clear.
//
// Not part of the public API (exported for the white-box tests).
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/net/url_session.h>

#include <variant>

namespace qn::internal {

// A task fails at the redirect after this many.
inline constexpr int kMaximumRedirects = 10;

// 301, 302, 303, 307 and 308: the answers that name where the resource is.
QN_API bool isFollowedRedirect(long status) noexcept;

// The request that follows `request` once it was answered with the redirect
// `status` to `location` (an absolute URL), after `redirectsSoFar` earlier
// redirects of the same task; or the error that ends the task there.
QN_API std::variant<QNURLRequest, QNURLError> requestForRedirect(const QNURLRequest& request,
                                                                 long status, StringView location,
                                                                 int redirectsSoFar);

}  // namespace qn::internal
