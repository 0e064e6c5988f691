#!/usr/bin/env python3
"""What the test network shows a plain libsmbclient client (via ctypes) and raw WS-Discovery,
independently of our code: testnet.sh waits on it until the network has converged.

Run it inside the client namespace (testnet.sh exec); it reads $HOME/.smb/smb.conf.

  lsnet.py browse   one line per server: "WORKGROUP<TAB>SERVER" (empty workgroups:
                    "WORKGROUP<TAB>"), as the NetBIOS browse lists show them (over SMB1)
  lsnet.py wsd      hosts answering WS-Discovery: "UUID<TAB>IP<TAB>NAME<TAB>KIND:GROUP"
"""
import ctypes
import ctypes.util
import os
import re
import socket
import sys
import time
import urllib.request
import uuid

AUTH_FN = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_char_p,
                           ctypes.c_void_p, ctypes.c_int,
                           ctypes.c_void_p, ctypes.c_int,
                           ctypes.c_void_p, ctypes.c_int)


class Dirent(ctypes.Structure):
    _fields_ = [("smbc_type", ctypes.c_uint), ("dirlen", ctypes.c_uint),
                ("commentlen", ctypes.c_uint), ("comment", ctypes.c_char_p),
                ("namelen", ctypes.c_uint), ("name", ctypes.c_char * 1)]


@AUTH_FN
def _anonymous(srv, shr, wg, wglen, un, unlen, pw, pwlen):
    # Always fill the buffers: empty user and password = anonymous/guest.
    ctypes.memset(un, 0, 1)
    ctypes.memset(pw, 0, 1)


def browse():
    """{workgroup: [servers]} from the browse lists; what fails is named on stderr."""
    lib = ctypes.CDLL(ctypes.util.find_library("smbclient") or "libsmbclient.so.0", use_errno=True)
    lib.smbc_init.argtypes = [AUTH_FN, ctypes.c_int]
    lib.smbc_set_context.restype = ctypes.c_void_p
    lib.smbc_set_context.argtypes = [ctypes.c_void_p]
    lib.smbc_setOptionProtocols.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p]
    lib.smbc_opendir.argtypes = [ctypes.c_char_p]
    lib.smbc_readdir.argtypes = [ctypes.c_int]
    lib.smbc_readdir.restype = ctypes.POINTER(Dirent)
    lib.smbc_closedir.argtypes = [ctypes.c_int]
    if lib.smbc_init(_anonymous, 0) < 0:
        raise OSError(ctypes.get_errno(), "smbc_init failed")
    # Browse lists need SMB1 to the master browsers.
    lib.smbc_setOptionProtocols(lib.smbc_set_context(None), b"NT1", b"NT1")

    def ls(url, kind):  # names of the entries of that kind (1 workgroup, 2 server)
        ctypes.set_errno(0)
        fd = lib.smbc_opendir(url.encode())
        if fd < 0:
            print(f"lsnet: {url}: {os.strerror(ctypes.get_errno())}", file=sys.stderr)
            return []
        names = []
        while ent := lib.smbc_readdir(fd):
            if ent.contents.smbc_type == kind:
                names.append(ctypes.string_at(ctypes.addressof(ent.contents) + Dirent.name.offset).decode())
        lib.smbc_closedir(fd)
        return names

    return {wg: ls(f"smb://{wg}", 2) for wg in ls("smb://", 1)}


WSD_GROUP = ("239.255.255.250", 3702)
SOAP_HEAD = ('<?xml version="1.0" encoding="utf-8"?>'
             '<soap:Envelope xmlns:soap="http://www.w3.org/2003/05/soap-envelope"'
             ' xmlns:wsa="http://schemas.xmlsoap.org/ws/2004/08/addressing"'
             ' xmlns:wsd="http://schemas.xmlsoap.org/ws/2005/04/discovery"'
             ' xmlns:wsdp="http://schemas.xmlsoap.org/ws/2006/02/devprof">')


def _soap(to, action, body):
    return (SOAP_HEAD + "<soap:Header>"
            f"<wsa:To>{to}</wsa:To><wsa:Action>{action}</wsa:Action>"
            f"<wsa:MessageID>urn:uuid:{uuid.uuid4()}</wsa:MessageID>"
            "<wsa:ReplyTo><wsa:Address>"
            "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous"
            "</wsa:Address></wsa:ReplyTo>"
            f"</soap:Header><soap:Body>{body}</soap:Body></soap:Envelope>").encode()


def _multicast(msg, local_ip, wait, enough=lambda answer: False):
    """Send one multicast message; the unicast answers that come within `wait` seconds,
    or up to the first one that is `enough`."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    # No default route in the namespaces: say which interface multicast leaves by.
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(local_ip))
    sock.bind((local_ip, 0))
    sock.sendto(msg, WSD_GROUP)
    answers = []
    end = time.monotonic() + wait
    while (left := end - time.monotonic()) > 0:
        sock.settimeout(left)
        try:
            data, _ = sock.recvfrom(65536)
        except socket.timeout:
            break
        answers.append(data.decode("utf-8", "replace"))
        if enough(answers[-1]):
            break
    sock.close()
    return answers


def _tag(xml, name):
    m = re.search(rf"<(?:\w+:)?{name}\b[^>]*>(.*?)</(?:\w+:)?{name}>", xml, re.S)
    return m.group(1).strip() if m else None


def wsd_hosts(local_ip, wait=2.0):
    """[(uuid, ip, name, 'Workgroup:X' or 'Domain:X')] of every WS-Discovery host that answers."""
    probe = _soap("urn:schemas-xmlsoap-org:ws:2005:04:discovery",
                  "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe",
                  "<wsd:Probe><wsd:Types>wsdp:Device</wsd:Types></wsd:Probe>")
    endpoints = set()
    for ans in _multicast(probe, local_ip, wait):
        addr = _tag(ans, "Address")
        if addr and "ProbeMatch" in ans:
            endpoints.add(addr)
    hosts = []
    for ep in sorted(endpoints):
        resolve = _soap("urn:schemas-xmlsoap-org:ws:2005:04:discovery",
                        "http://schemas.xmlsoap.org/ws/2005/04/discovery/Resolve",
                        "<wsd:Resolve><wsa:EndpointReference><wsa:Address>"
                        f"{ep}</wsa:Address></wsa:EndpointReference></wsd:Resolve>")
        xaddrs = None
        match = lambda ans: ep in ans and "ResolveMatch" in ans  # noqa: E731
        for ans in _multicast(resolve, local_ip, wait, match):
            if match(ans):
                xaddrs = _tag(ans, "XAddrs")
                break
        if not xaddrs:
            continue
        url = xaddrs.split()[0]
        get = _soap(ep, "http://schemas.xmlsoap.org/ws/2004/09/transfer/Get", "")
        req = urllib.request.Request(url, data=get,
                                     headers={"Content-Type": "application/soap+xml"})
        # Only the test hosts' own addresses: never through a proxy.
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        meta = opener.open(req, timeout=5).read().decode("utf-8", "replace")
        computer = _tag(meta, "Computer") or ""
        name, _, group = computer.partition("/")
        ip = re.sub(r"^https?://\[?([^]/:]+).*$", r"\1", url)
        hosts.append((ep.removeprefix("urn:uuid:"), ip, name, group))
    return hosts


def _client_ip():
    ip = os.environ.get("VUV_NET_CLIENT_IP")
    if not ip:
        raise SystemExit("lsnet: VUV_NET_CLIENT_IP not set (run through testnet.sh exec)")
    return ip


def main(argv):
    if argv[1:] == ["wsd"]:
        for h in wsd_hosts(_client_ip()):
            print("\t".join(h))
        return 0
    if argv[1:] == ["browse"]:
        for wg, servers in sorted(browse().items()):
            if not servers:
                print(f"{wg}\t")
            for s in sorted(servers):
                print(f"{wg}\t{s}")
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
