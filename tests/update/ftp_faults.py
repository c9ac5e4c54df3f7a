# A small FTP server on a free loopback port with the faults pyftpdlib will not make: it serves
# the files under a folder, and
#   - a file that is not there streams without end, and the control connection falls silent
#     (with --hush, before even the word that the file is coming);
#   - a file in a folder named "mute" arrives whole, but the word that ends it never comes;
#   - with --trickle BYTES MS every file arrives BYTES at a time, one piece every MS milliseconds.
import os, socket, sys, threading, time

root = os.path.realpath(sys.argv[1])
options = sys.argv[2:]
trickle = (int(options[1]), int(options[2]) / 1000) if options[:1] == ["--trickle"] else None
hush = "--hush" in options


def serve(control):
    reply = lambda text: control.sendall((text + "\r\n").encode())
    reply("220 ready")
    cwd, listener, lines = "/", None, control.makefile("rb")
    for raw in lines:
        verb, _, arg = raw.decode("utf-8", "replace").strip().partition(" ")
        verb = verb.upper()
        path = os.path.normpath(os.path.join(cwd, arg))
        local = os.path.join(root, path.lstrip("/"))
        if verb == "USER":
            reply("331 any password")
        elif verb == "PASS":
            reply("230 in")
        elif verb == "PWD":
            reply('257 "%s"' % cwd)
        elif verb == "CWD":
            cwd = path
            reply("250 ok")
        elif verb == "TYPE":
            reply("200 ok")
        elif verb in ("EPSV", "PASV"):
            listener = socket.create_server(("127.0.0.1", 0))
            port = listener.getsockname()[1]
            reply("229 (|||%d|)" % port if verb == "EPSV" else
                  "227 (127,0,0,1,%d,%d)" % (port >> 8, port & 255))
        elif verb == "SIZE":
            # Not "no such file": the client would not go on to ask for it.
            reply("213 %d" % os.path.getsize(local) if os.path.isfile(local) else "502 no size")
        elif verb == "RETR":
            data = listener.accept()[0]
            if os.path.isfile(local) or not hush:
                reply("150 here it comes")
            if not os.path.isfile(local):
                print("streaming " + path, flush=True)
                try:
                    while True:
                        data.sendall(b"," * 8192)
                        time.sleep(0.02)
                except OSError:  # the client gave up on the file: it hears nothing more at all
                    while control.recv(1024):
                        pass
                    return
            body = open(local, "rb").read()
            step = trickle[0] if trickle else len(body) or 1
            for at in range(0, len(body), step):
                data.sendall(body[at:at + step])
                if trickle:
                    time.sleep(trickle[1])
            data.close()
            if "/mute/" in path:
                print("silent after " + path, flush=True)
                while control.recv(1024):  # until the client gives up
                    pass
                return
            reply("226 done")
        elif verb == "QUIT":
            reply("221 bye")
            return
        else:
            reply("502 not here")


server = socket.create_server(("127.0.0.1", 0))
print("serving on 127.0.0.1:%d" % server.getsockname()[1], flush=True)
while True:
    connection = server.accept()[0]
    threading.Thread(target=serve, args=(connection,), daemon=True).start()
