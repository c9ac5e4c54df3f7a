#pragma once

#include <curl/curl.h>

namespace trident {

// The three socket calls a transfer makes itself, so that it can cut its own connections (see
// curl_transfer.cpp); they differ by platform and live in socket_calls_<platform>.cpp.
curl_socket_t openSocket(int family, int type, int protocol);
// Ends both directions at once: a thread waiting on the socket wakes and finds it closed. The
// descriptor stays open, so the number cannot be given to another file meanwhile.
void shutDownSocket(curl_socket_t socket);
int closeSocket(curl_socket_t socket);

}  // namespace trident
