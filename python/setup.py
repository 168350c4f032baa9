# The vellix package for Python: pure Python over ctypes, so it installs
# without a compiler or network access (`pip install ./python`).
from setuptools import setup

setup(
    name="vellix",
    version="0.1.0",
    description="Read and rewrite the metadata of PDF files through libvellix",
    long_description=open("README.md", encoding="utf-8").read(),
    long_description_content_type="text/markdown",
    python_requires=">=3.8",
    packages=["vellix"],
    package_data={"vellix": ["py.typed", "libvellix.so*"]},
    classifiers=["Programming Language :: Python :: 3", "Typing :: Typed"],
)
