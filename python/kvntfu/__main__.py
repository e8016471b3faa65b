"""python3 -m kvntfu catalog DIR --db FILE | convert DIR OUT --to png|tif"""
import sys

from ._catalog import main

sys.exit(main())
