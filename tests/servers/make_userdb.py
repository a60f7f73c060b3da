#!/usr/bin/python3
"""Writes the user database read by PAM's userdb module for the test vsftpd.

Usage: make_userdb.py DATABASE USER PASSWORD
DATABASE is the path without the ".db" ending that the module and this writer add.
"""
import dbm.ndbm
import sys


def main():
    if len(sys.argv) != 4:
        sys.stderr.write("usage: make_userdb.py DATABASE USER PASSWORD\n")
        return 2
    path, user, password = sys.argv[1:]
    database = dbm.ndbm.open(path, "n", 0o600)
    try:
        database[user.encode()] = password.encode()
    finally:
        database.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
