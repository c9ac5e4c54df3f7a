# HTTP, or HTTPS with the certificate given, on a free loopback port, serving a folder; with the
# faults an FTP server will not make on demand: /held/NAME answers as /NAME does once the folder
# holds a file named "release"; a path under /stall gets its headers and never its body.
import http.server, os, ssl, sys, time

os.chdir(sys.argv[1])


class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        if self.path.startswith("/stall/"):
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.rfile.read()  # until the client gives up
            return
        if self.path.startswith("/held/"):
            print("holding " + self.path, flush=True)
            while not os.path.exists("release"):
                time.sleep(0.02)
            self.path = self.path[len("/held"):]
        super().do_GET()


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
if len(sys.argv) > 2 and sys.argv[2]:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[2])
    server.socket = context.wrap_socket(server.socket, server_side=True)
print("serving on 127.0.0.1:%d" % server.server_address[1], flush=True)
server.serve_forever()
