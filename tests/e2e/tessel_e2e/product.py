"""What an installation of Tessel Web Protection leaves on a machine: the
nine things the tool removes, and where the test machine keeps its helpers."""

FILTER_SERVICE = "tslwfs"
DRIVER_SERVICE = "tsld"

DRIVER_FILE = r"C:\Windows\system32\drivers\tsld.sys"
# The same name as a 32-bit program sees it through WOW64 redirection.
DRIVER_FILE_WOW64 = r"C:\Windows\SysWOW64\drivers\tsld.sys"
INSTALL_DIR = r"C:\Program Files\Orvane Tessel Web Protection"
START_MENU_DIR = (
    r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Orvane Tessel Web Protection"
)

# Below HKEY_LOCAL_MACHINE, as the tool prints them.
PRODUCT_KEY = r"SOFTWARE\Orvane Systems\Tessel"
VENDOR_KEY = r"SOFTWARE\Orvane Systems"
# The most an exe may weigh: statically linked and still small, since the
# console writer is the tool's own (the runtime's stream and locale machinery
# stays out), and so does the name demangler of the runtime's default
# terminate handler.
MAX_EXE_BYTES = 280 * 1024
UNINSTALL_KEY = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Orvane Tessel Web Protection"

SERVICES_KEY = r"HKLM\System\CurrentControlSet\Services"
SESSION_MANAGER_KEY = r"HKLM\System\CurrentControlSet\Control\Session Manager"
PENDING_RENAMES = "PendingFileRenameOperations"
INTERNET_SETTINGS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"

# The test machine's own directories: helpers, and what a scenario writes.
HELPER_DIR = r"C:\e2e\bin"
RUN_DIR = r"C:\e2e\run"
TOOL = HELPER_DIR + r"\tessel-cleanup.exe"
# The agreement page's file name, in the directory that TEMP names.
AGREEMENT_PAGE_NAME = "tessel_removal_eula.html"
# The agreement page inside the exe.
PAGE_RESOURCE_TYPE = 256
PAGE_RESOURCE_ID = 101

# The version the tool prints and sends, as the exe under test's version
# resource says (conftest.py reads it before any scenario is collected).
VERSION = "?"

HELPERS = ("e2e-service", "e2e-keys", "e2e-hold", "e2e-launch", "e2e-record", "e2e-mark",
           "e2e-screen")


def wow64_key(key: str) -> str:
    """Where the 32-bit view keeps a key of HKLM\\SOFTWARE."""
    head, _, rest = key.partition("\\")
    assert head.upper() == "SOFTWARE", key
    return head + r"\WOW6432Node" + "\\" + rest
