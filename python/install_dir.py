# SPDX-License-Identifier: MIT
"""Prints where this Python looks for packages under an installation prefix,
relative to it: Debian's python3 reads /usr/lib/python3/dist-packages for its own
packages and /usr/local/lib/python3.X/dist-packages for local ones, other Pythons
<prefix>/lib/python3.X/site-packages.

    python3 install_dir.py PREFIX
"""

import os
import sys
import sysconfig


def package_dir(prefix):
    schemes = sysconfig.get_scheme_names()
    if "deb_system" in schemes and (prefix == "/usr" or prefix.endswith("/usr")):
        return sysconfig.get_path("platlib", "deb_system", vars={"base": prefix, "platbase": prefix})
    if "posix_local" in schemes and prefix.endswith("/usr/local"):
        # Debian's local scheme adds "local" to a base of /usr.
        base = prefix[: -len("/local")]
        return sysconfig.get_path("platlib", "posix_local", vars={"base": base, "platbase": base})
    scheme = "posix_prefix" if os.name == "posix" else sysconfig.get_default_scheme()
    return sysconfig.get_path("platlib", scheme, vars={"base": prefix, "platbase": prefix})


if __name__ == "__main__":
    prefix = os.path.normpath(sys.argv[1])
    print(os.path.relpath(package_dir(prefix), prefix).replace(os.sep, "/"))
