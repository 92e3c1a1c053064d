import click

@click.command("faldrun")
def cmd_faldrun():
    click.echo("faldrun")
