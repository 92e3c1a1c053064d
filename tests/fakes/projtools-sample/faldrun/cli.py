import click

from .faldrun import cmd_faldrun

@click.group()
def main():
    pass

main.add_command(cmd_faldrun)
