"""CURVE keys for a subscriber: the publisher's public key and the
subscriber's own pair, each given as a key file (``vornctl keygen NAME``
writes NAME.pub and NAME.key) or as the key's Z85 text."""
from __future__ import annotations

import os
import re
from typing import List, NamedTuple, Optional, Tuple

from .errors import VornError

_Z85 = r"[0-9a-zA-Z.\-:+=^!/*?&<>()\[\]{}@%$#]"
_KEY = re.compile(r"(?<![^\s\"'=:])(" + _Z85 + r"{40})(?![^\s\"',;])")
_MAX_FILE = 64 * 1024


class CurveKeyError(VornError, ValueError):
    pass


class ClientKeys(NamedTuple):
    server_public: bytes
    public: bytes
    secret: bytes


def _read(value, what: str) -> Tuple[str, str]:
    """(text, where it came from) of a key argument: a path or the key itself."""
    if isinstance(value, bytes):
        value = value.decode("ascii", "replace")
    if not isinstance(value, (str, os.PathLike)):
        raise TypeError(f"{what} is a key file's path or the key's Z85 text, not {type(value).__name__}")
    text = os.fspath(value)
    if re.fullmatch(_Z85 + "{40}", text.strip()) and not os.path.exists(text):
        return text.strip(), f"the {what} text"
    try:
        with open(text, "rb") as f:
            data = f.read(_MAX_FILE + 1)
    except FileNotFoundError:
        raise CurveKeyError(f"{what}: no key file {text} (give the path of a file vornctl keygen wrote, "
                        f"or the key's 40-character Z85 text)") from None
    except OSError as e:
        raise CurveKeyError(f"{what}: cannot read {text}: {e.strerror or e}") from None
    if len(data) > _MAX_FILE:
        raise CurveKeyError(f"{what}: {text} is too large to be a key file")
    return data.decode("ascii", "replace"), text


def _keys(text: str) -> List[Tuple[str, str]]:
    """(key, label) for every Z85 key in the text; the label is the line's
    word for it ("secret", "public" or "")."""
    found = []
    for line in text.splitlines():
        stripped = line.strip()
        # Z85 has "#" and "=": a line that is one key is a key, even if it starts like a comment.
        if re.fullmatch(_Z85 + "{40}", stripped):
            found.append((stripped, ""))
            continue
        if not stripped or stripped.startswith("#"):
            continue
        lower = stripped.lower()
        label = "secret" if "secret" in lower else "public" if "public" in lower else ""
        found += [(m.group(1), label) for m in _KEY.finditer(stripped)]
    return found


def _public_of(secret: str) -> Optional[str]:
    import zmq

    try:
        return zmq.curve_public(secret.encode("ascii")).decode("ascii")
    except (zmq.ZMQError, ValueError):
        return None


def _pair(found: List[Tuple[str, str]]) -> Optional[Tuple[str, str]]:
    """(public, secret) from a key file's keys, labelled or not: a secret
    key is the one whose public half is the other."""
    for key, label in found:
        public = _public_of(key)
        if public is not None and (label == "secret" or any(k == public for k, _ in found if k != key)):
            return public, key
    return None


def server_public_key(value) -> bytes:
    text, where = _read(value, "server_key")
    found = _keys(text)
    if len(found) == 1:
        return found[0][0].encode("ascii")
    pair = _pair(found) if found else None
    if pair is not None:
        # A key pair file: only its public half is the server's key.
        return pair[0].encode("ascii")
    publics = [k for k, label in found if label == "public"]
    if len(publics) == 1:
        return publics[0].encode("ascii")
    raise CurveKeyError(f"server_key: {where} holds no CURVE public key (40 Z85 characters); give the publisher's "
                    f"NAME.pub")


def client_key_pair(value) -> Tuple[bytes, bytes]:
    """(public, secret) of the subscriber's own key pair."""
    text, where = _read(value, "client_key")
    found = _keys(text)
    pair = _pair(found)
    # One key alone is a secret key, unless it says it is a public one.
    public_only = where.endswith(".pub") or any(label == "public" for _, label in found)
    if pair is None and len(found) == 1 and not public_only:
        public = _public_of(found[0][0])
        pair = (public, found[0][0]) if public is not None else None
    if pair is None:
        raise CurveKeyError(f"client_key: {where} holds no CURVE key pair; give the NAME.key that vornctl keygen "
                        f"wrote (the secret key with its public key), not the NAME.pub")
    return pair[0].encode("ascii"), pair[1].encode("ascii")


def client_keys(server_key, client_key) -> Optional[ClientKeys]:
    """The keys to connect with, or None for plaintext. A client key without
    the server's (or the other way round) is an error: CURVE needs both."""
    if server_key is None and client_key is None:
        return None
    if server_key is None:
        raise ValueError("client_key without server_key: CURVE needs the publisher's public key too "
                         "(server_key=PATH of its .pub)")
    server = server_public_key(server_key)
    if client_key is None:
        import zmq

        # A publisher admits only listed keys; a fresh pair is for one that admits any.
        public, secret = zmq.curve_keypair()
    else:
        public, secret = client_key_pair(client_key)
    return ClientKeys(server, public, secret)
