from setuptools import setup, find_packages

setup(
    name='faldrun',
    version="0.1.0",
    description="Faldrun CLI Application",
    packages=find_packages(),
    entry_points={"console_scripts": ["faldrun-cli=faldrun.cli:main"]},
)
