# A small FTP server on a free loopback port with the faults pyftpdlib will not make: it serves
# the files under a folder, and
#   - a file that is not there streams without end, and the control connection falls silent
#     (with --hush, before even the word that the file is coming);
#   - a file in a folder named "mute" arrives whole, but the word that ends it never comes;
#   - a file in a folder named "huge" is said to be a gigabyte;
#   - QUIT is never answered;
#   - with --trickle BYTES MS every file arrives BYTES at a time, one piece every MS milliseconds.
import os, socket, sys, threading, time

root = os.path.realpath(sys.argv[1])
options = sys.argv[2:]
trickle = (int(options[1]), int(options[2]) / 1000) if options[:1] == ["--trickle"] else None
hush = "--hush" in options
FIXED = {"USER": "331 any password", "PASS": "230 in", "TYPE": "200 ok", "PWD": '257 "/"'}


def serve(control):
    reply = lambda text: control.sendall((text + "\r\n").encode())
    silent = lambda: [None for _ in iter(lambda: control.recv(1024), b"")]  # until the client goes
    reply("220 ready")
    cwd = "/"
    for raw in control.makefile("rb"):
        verb, _, arg = raw.decode("utf-8", "replace").strip().partition(" ")
        path = os.path.normpath(os.path.join(cwd, arg))
        local = os.path.join(root, path.lstrip("/"))
        verb = verb.upper()
        if verb in FIXED:
            reply(FIXED[verb])
        elif verb == "CWD":
            cwd = path
            reply("250 ok")
        elif verb == "EPSV":
            listener = socket.create_server(("127.0.0.1", 0))
            reply("229 (|||%d|)" % listener.getsockname()[1])
        elif verb == "SIZE":
            # Not "no such file": the client would not go on to ask for it.
            size = 10**9 if "/huge/" in path else os.path.getsize(local) if os.path.isfile(local) else -1
            reply("213 %d" % size if size >= 0 else "502 no size")
        elif verb == "RETR":
            data = listener.accept()[0]
            if os.path.isfile(local) or not hush:
                reply("150 here it comes")
            if not os.path.isfile(local):
                print("streaming " + path, flush=True)
                try:
                    while not time.sleep(0.02):
                        data.sendall(b"," * 8192)
                except OSError:  # the client gave up on the file: it hears nothing more at all
                    return silent()
            body = open(local, "rb").read()
            step = trickle[0] if trickle else len(body) or 1
            for at in range(0, len(body), step):
                data.sendall(body[at:at + step])
                time.sleep(trickle[1] if trickle else 0)
            data.close()
            if "/mute/" in path:
                print("silent after " + path, flush=True)
                return silent()
            reply("226 done")
        elif verb == "QUIT":
            return silent()
        else:
            reply("502 not here")


server = socket.create_server(("127.0.0.1", 0))
print("serving on 127.0.0.1:%d" % server.getsockname()[1], flush=True)
while True:
    threading.Thread(target=serve, args=(server.accept()[0],), daemon=True).start()
