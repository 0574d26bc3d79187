#!/usr/bin/env python3
"""The far end of the "ssltcp" framing: checks the fixed client hello, answers with the fixed
server hello, then relays bytes unchanged to a backend (an XMPP server, an echo server).

Usage: ssltcprelay.py LISTEN_PORT BACKEND_HOST BACKEND_PORT
Listens on 127.0.0.1 only. A client whose hello differs is disconnected.
"""
import asyncio
import sys

CLIENT_HELLO = bytes.fromhex(
    "80460103 01002d00 00001001 00800300 800700c0 06004002 00800400 80000004"
    "00feff00 000a00fe fe000009 00006400 00620000 03000006 1f170ca6 2f0078fc"
    "46552eb1 8339f1ea".replace(" ", ""))
SERVER_HELLO = bytes.fromhex(
    "16030100 4a020000 46030142 8545a727 a95da0b3 c5e753da 482b3fc6 5aca89c1"
    "5852a178 3c5b1746 00853f20 0ed30672 5b5b1b5f 15ac13f9 88539d9b e83d7b0c"
    "30326e38 4da27557 416c345c 000400".replace(" ", ""))
assert len(CLIENT_HELLO) == 72 and len(SERVER_HELLO) == 79


async def pipe(reader, writer):
    try:
        while data := await reader.read(65536):
            writer.write(data)
            await writer.drain()
    except (ConnectionError, asyncio.IncompleteReadError):
        pass
    finally:
        writer.close()


async def handle(reader, writer, backend_host, backend_port):
    try:
        hello = await asyncio.wait_for(reader.readexactly(len(CLIENT_HELLO)), 10)
    except (asyncio.IncompleteReadError, asyncio.TimeoutError, ConnectionError):
        writer.close()
        return
    if hello != CLIENT_HELLO:
        writer.close()
        return
    writer.write(SERVER_HELLO)
    await writer.drain()
    try:
        backend_reader, backend_writer = await asyncio.open_connection(backend_host, backend_port)
    except OSError:
        writer.close()
        return
    await asyncio.gather(pipe(reader, backend_writer), pipe(backend_reader, writer))


async def main():
    port, backend_host, backend_port = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
    server = await asyncio.start_server(
        lambda r, w: handle(r, w, backend_host, backend_port), "127.0.0.1", port)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
