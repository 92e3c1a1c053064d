import click

class {{app_class_name}}:
    """{{app_name}} for {{cli_name}} {{sub_cli_name}}."""

@click.command("{{sub_cli_name}}")
def cmd_{{cli_func_name}}():
    pass
