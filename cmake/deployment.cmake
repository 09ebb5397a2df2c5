# The bank's deployment data: host names, addresses and the home page.
# Defaults are reserved .example names; a release for the bank overrides them
# with -C or -D at configure time. Everything else reads them from here.
set(WAYFARER_BANK_DOMAIN   "lunmarbank.example"                   CACHE STRING "The bank's registered domain")
set(WAYFARER_WEB_HOST      "www.lunmarbank.example"               CACHE STRING "The bank's web site host")
set(WAYFARER_EBANK_HOST    "ebank.lunmarbank.example"             CACHE STRING "The online-banking host")
set(WAYFARER_DOWNLOAD_BASE "https://download.lunmarbank.example"  CACHE STRING "The download server, scheme and host")
set(WAYFARER_CONFIG_PATH   "/perbank/download/812/item.xml"       CACHE STRING "Path of the configuration document on the download server")
set(WAYFARER_SERVICE_URL   "https://ebank.lunmarbank.example/perbank/" CACHE STRING "The online-banking service probed for reachability")
set(WAYFARER_HOME_PAGE     "https://www.lunmarbank.example/"      CACHE STRING "The browser home page the bank asks for")
set(WAYFARER_CFCA_DIR      ""                                     CACHE PATH   "Folder with the five CFCA certificates (Root_CA.cer ... Operation_CA2.cer, DER); empty builds without them")

# Tests only: in a build with WAYFARER_TESTS=ON the environment variable named
# here, when set, replaces the configuration address (end-to-end tests point
# it at the fake bank server). A build without tests never reads it.
set(WAYFARER_TEST_CONFIG_URL_VARIABLE "WAYFARER_TEST_CONFIG_URL" CACHE STRING "Test builds: environment variable that replaces the configuration address")
