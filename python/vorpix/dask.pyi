import os
from typing import Optional, Sequence, Union

import dask.dataframe

DEFAULT_CHUNKSIZE: int

def read_file(path: Union[str, os.PathLike], npartitions: Optional[int] = ..., chunksize: Optional[int] = ...,
              columns: Optional[Sequence[str]] = ..., encoding: Optional[str] = ...) -> dask.dataframe.DataFrame: ...
