// Networking: the HTTP client, the application server's request objects and
// SOAP locations, over the host's URL session.
#pragma once

#include <qn/net/http_client.h>
#include <qn/net/http_request.h>
#include <qn/net/soap.h>
#include <qn/net/url_session.h>
#include <qn/value.h>
