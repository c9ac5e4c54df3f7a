#include <winsock2.h>

#include "update/socket_calls.h"

namespace trident {

curl_socket_t openSocket(int family, int type, int protocol) {
  return ::socket(family, type, protocol);
}

void shutDownSocket(curl_socket_t socket) {
  ::shutdown(socket, SD_BOTH);
}

int closeSocket(curl_socket_t socket) {
  return ::closesocket(socket);
}

}  // namespace trident
