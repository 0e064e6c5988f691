#!/usr/bin/env python3
"""Independent look at the test network through the real libsmbclient (via ctypes).

Run it inside the client namespace (testnet.sh exec). It reads $HOME/.smb/smb.conf like
any libsmbclient program.

  lsnet.py browse        one line per server: "WORKGROUP<TAB>SERVER" (empty workgroups:
                         "WORKGROUP<TAB>"), as the NetBIOS browse lists show them
  lsnet.py tree          the whole tree in the network tree file format (.brk):
                         workgroups and servers sorted, shares in the server's order
  lsnet.py tree --wsd    the same with the hosts found by WS-Discovery merged in
  lsnet.py wsd           hosts answering WS-Discovery: "UUID<TAB>IP<TAB>NAME<TAB>KIND:GROUP"
                         (KIND is Workgroup or Domain)
  lsnet.py ls [--smb1] URL
                         the entries of one smb:// URL: "TYPE<TAB>NAME"; --smb1 for
                         smb:// and smb://WORKGROUP (browse lists need SMB1)

Browsing needs SMB1 to the master browsers; shares are listed with NT1 to SMB3 allowed, as the
client's smb.conf says (OLD1 speaks only SMB1; LSNET_SHARE_MIN=SMB2_02 leaves it out).
libsmbclient keeps protocol limits process-wide, so the tree is read in two phases.
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

TYPES = {1: "WORKGROUP", 2: "SERVER", 3: "FILE_SHARE", 4: "PRINTER_SHARE",
         5: "COMMS_SHARE", 6: "IPC_SHARE", 7: "DIR", 8: "FILE", 9: "LINK"}

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


class Smb:
    def __init__(self, debug=0):
        path = ctypes.util.find_library("smbclient") or "libsmbclient.so.0"
        lib = ctypes.CDLL(path, use_errno=True)
        lib.smbc_init.argtypes = [AUTH_FN, ctypes.c_int]
        lib.smbc_set_context.restype = ctypes.c_void_p
        lib.smbc_set_context.argtypes = [ctypes.c_void_p]
        lib.smbc_setOptionProtocols.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p]
        lib.smbc_setOptionProtocols.restype = ctypes.c_int
        lib.smbc_setTimeout.argtypes = [ctypes.c_void_p, ctypes.c_int]
        lib.smbc_opendir.argtypes = [ctypes.c_char_p]
        lib.smbc_readdir.argtypes = [ctypes.c_int]
        lib.smbc_readdir.restype = ctypes.POINTER(Dirent)
        lib.smbc_closedir.argtypes = [ctypes.c_int]
        if lib.smbc_init(_anonymous, debug) < 0:
            raise OSError(ctypes.get_errno(), "smbc_init failed")
        self.lib = lib
        self.ctx = lib.smbc_set_context(None)
        lib.smbc_setTimeout(self.ctx, int(os.environ.get("LSNET_TIMEOUT_MS", "20000")))

    def protocols(self, lo, hi):
        self.lib.smbc_setOptionProtocols(self.ctx, lo.encode(), hi.encode())

    def ls(self, url):
        """[(type, name)] or raises OSError."""
        ctypes.set_errno(0)
        fd = self.lib.smbc_opendir(url.encode())
        if fd < 0:
            err = ctypes.get_errno()
            raise OSError(err, f"{url}: {os.strerror(err)}")
        out = []
        while True:
            ent = self.lib.smbc_readdir(fd)
            if not ent:
                break
            addr = ctypes.addressof(ent.contents) + Dirent.name.offset
            name = ctypes.string_at(addr).decode("utf-8", "surrogateescape")
            out.append((ent.contents.smbc_type, name))
        self.lib.smbc_closedir(fd)
        return out


def browse(smb):
    """{workgroup: [servers]} from the browse lists (SMB1)."""
    smb.protocols("NT1", "NT1")
    groups = {}
    try:
        top = smb.ls("smb://")
    except OSError as e:   # no master answered at all
        print(f"lsnet: {e}", file=sys.stderr)
        return groups
    for t, wg in top:
        if t != 1:
            continue
        try:
            groups[wg] = [n for t2, n in smb.ls(f"smb://{wg}") if t2 == 2]
        except OSError as e:
            print(f"lsnet: {e}", file=sys.stderr)
            groups[wg] = []
    return groups


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
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    cmd = argv[1]
    if cmd == "wsd":
        for h in wsd_hosts(_client_ip()):
            print("\t".join(h))
        return 0
    smb = Smb(int(os.environ.get("LSNET_DEBUG", "0")))
    if cmd == "browse":
        for wg, servers in sorted(browse(smb).items()):
            if not servers:
                print(f"{wg}\t")
            for s in sorted(servers):
                print(f"{wg}\t{s}")
        return 0
    if cmd == "tree" and argv[2:] in ([], ["--wsd"]):
        groups = browse(smb)
        address = {}
        if argv[2:] == ["--wsd"]:
            for _, ip, name, group in wsd_hosts(_client_ip()):
                wg = group.partition(":")[2]
                if name not in groups.setdefault(wg, []):
                    groups[wg].append(name)
                address[name] = ip   # no NetBIOS name: reach it by its address
        smb.protocols(os.environ.get("LSNET_SHARE_MIN", "NT1"), "SMB3")
        out = []
        for wg in sorted(groups):
            servers = sorted(groups[wg])
            out.append(("2" if servers else "0") + wg)
            for s in servers:
                try:
                    shares = [n for _, n in smb.ls(f"smb://{address.get(s, s)}")]
                except OSError as e:
                    print(f"lsnet: {e}", file=sys.stderr)
                    shares = []
                out.append(("1" if shares else "0") + s)
                out.extend("0" + n for n in shares)
        sys.stdout.write("".join(line + "\n" for line in out))
        return 0
    if cmd == "ls" and len(argv) in (3, 4):
        url = argv[-1]
        if len(argv) == 4:
            if argv[2] != "--smb1":
                print(__doc__, file=sys.stderr)
                return 2
            smb.protocols("NT1", "NT1")
        try:
            entries = smb.ls(url)
        except OSError as e:
            print(f"lsnet: {e}", file=sys.stderr)
            return 1
        for t, n in entries:
            print(f"{TYPES.get(t, t)}\t{n}")
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
